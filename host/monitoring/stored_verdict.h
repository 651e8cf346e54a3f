// What a check of the stored certificates comes to, rule by rule: each
// certificate's end against the thresholds (a client certificate whose slot
// renews on its own is no WARNING while its renewal is on course, as
// cert-manager judges a certificate it is about to renew), the slots
// required, a CRL's verdict on a stored certificate, and what in a slot's
// renewals needs a person. Pure: the caller reads the store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/lifecycle/schedule.h"
#include "host/lifecycle/slots.h"
#include "host/monitoring/state.h"
#include "host/revocation/revocation.h"
#include "ivo/certificate_type_table.h"

namespace host::monitoring {

// One stored record as the component sees it alone.
struct StoredCertificate {
  explicit StoredCertificate(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  bool client = false;
  // Why the component cannot use the record, as a phrase ("cannot be
  // decoded (0x80000151): its stored password does not open it"); empty when
  // it can, and the fields below are set.
  std::string problem;
  // False when the component refuses to start over the record at all (dates
  // it cannot represent): such a record keeps every slot from being used.
  bool loadable = true;
  std::string subject;
  std::string issuer;
  std::string serial;     // hex octets, as the manager writes them
  std::string notBefore;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string notAfter;
  std::int64_t notBeforeSeconds = 0;  // since 1970, UTC
  std::int64_t notAfterSeconds = 0;

  const char* kind() const { return client ? "client" : "server"; }
  std::string slot() const;  // "edr server"
};

// "valid", "expired", "not yet valid" (at `now`, seconds since 1970),
// "cannot be loaded" or "undecodable".
std::string StatusOf(const StoredCertificate& stored, std::int64_t now);

// A slot, by type and kind.
struct SlotRef {
  ivo::PeerType type = ivo::PeerType::All().front();
  bool client = false;
};

struct CheckOptions {
  Thresholds thresholds;
  std::optional<ivo::PeerType> type;  // none: every type
  std::string kind;                   // "client", "server"; empty: both kinds
  std::vector<SlotRef> required;      // CRITICAL when empty
  std::int64_t graceSeconds = lifecycle::kRenewalGraceSeconds;
  bool ignoreRenewal = false;  // judge client certificates by their end alone
};

// The slot of a verdict on the store itself (its permissions, say).
constexpr const char* kStoreVerdict = "store";

struct StoredVerdict {
  std::string slot;  // "edr server"; kStoreVerdict for the store itself
  State state = State::Ok;
  std::string message;
  const StoredCertificate* certificate = nullptr;  // null for a missing one
  std::optional<std::int64_t> daysLeft;            // whole days to its end, when it has dates
  bool measured = true;                            // has performance data (a verdict on a date has none)
};

// Whether the options select the slot of `type` and `kind`.
bool Selected(const CheckOptions& options, ivo::PeerType type, const std::string& kind);

// The verdicts at `now` on each selected certificate of `inventory` (which
// they point into), with its slot's renewal facts, and on each required
// slot that is empty.
std::vector<StoredVerdict> JudgeStored(const std::vector<StoredCertificate>& inventory,
                                       const std::vector<lifecycle::SlotRenewals>& renewals,
                                       const CheckOptions& options, std::int64_t now);

// A stored certificate a CRL covers: revoked is CRITICAL, a CRL that cannot
// judge it WARNING.
StoredVerdict RevocationVerdict(ivo::PeerType type, bool client, const revocation::CertificateRevocation& found);

// What needs a person in a slot's renewals at `now`, each WARNING: a
// configured renewal past its due time and grace (the timer has not renewed
// it), one that is failing (the state says why), a hook that failed after a
// renewal.
std::vector<StoredVerdict> RenewalVerdicts(const lifecycle::SlotRenewals& fact, const CheckOptions& options,
                                           std::int64_t now);

State Worst(const std::vector<StoredVerdict>& verdicts);

// The status line's text: the problems, worst first; or, when all is well,
// how many certificates are valid and the first to end.
std::string Summary(const std::vector<StoredVerdict>& verdicts, State worst, const CheckOptions& options);

}  // namespace host::monitoring
