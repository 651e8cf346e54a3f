// A slot's renewal settings: kept in the store, merged with what a run
// sets over them, and checked wherever they come from (a person, a backup
// restored), so that settings that cannot work are refused or dropped in
// words, never acted on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/lifecycle/records.h"
#include "host/lifecycle/schedule.h"
#include "host/lifecycle/store.h"
#include "host/status.h"
#include "ivo/certificates_manager.h"

namespace host::lifecycle {

// The most days before the end a renewal may be set to take place.
constexpr std::int64_t kMaxBeforeDays = 999'999'999;

// Why renewal settings cannot work, or empty: a request other than kur or
// cr, a server that is no http URL of a host (ReadCmpAddress), days before
// the end outside 0 to kMaxBeforeDays, trust anchors that are not
// certificates only (ossl::ReadAnchorFile), an expected sender that is no
// DER name.
std::string SettingsProblem(const RenewalConfig& config);

// Why a renewal state cannot be, or empty: failures outside 0 to
// kMaxFailures, a time before 1970 or after 9999.
std::string StateProblem(const RenewalState& state);

// Why a pending key cannot be used, or empty: its key cannot be read, or
// it was made before 1970 or after 9999.
std::string PendingKeyProblem(const PendingKey& pending);

// What a run sets over a slot's kept settings, each for that run only.
struct Overrides {
  std::optional<std::string> server;                     // the CA's CMP address
  std::optional<std::string> command;                    // "kur" or "cr"
  std::optional<std::string> trusted;                    // PEM or DER certificates
  std::string trustedOrigin = "the certificates given";  // what `trusted` is, for messages
  std::optional<std::string> sender;                     // DER name
  std::optional<TrialTarget> trial;                      // the peer to try the new pair against
  std::optional<std::string> hook;
  std::optional<std::int64_t> beforeDays;
};

// `kept` (none: the defaults) with `overrides` over it.
RenewalConfig Merged(const std::optional<RenewalConfig>& kept, const Overrides& overrides);

// Keeps `config` as `type`'s renewal settings, in a unit of work of its
// own, journalled as an operation "renew-config" by `initiator`. Refused
// ("Invalid argument") when SettingsProblem finds one or no CA is named,
// ("Invalid state") when its anchors cannot verify a CA (see SlotAnchors,
// AnchorsProblem), and when beforeDays is not shorter than the slot's
// certificate's lifetime; the words say which.
Status KeepRenewalSettings(LifecycleStore& store, ivo::ICertificatesManager& manager, ivo::PeerType type,
                           const RenewalConfig& config, const ivo::ChangeInitiator& initiator);

// Drops `type`'s renewal settings in a unit of work of its own, journalled;
// "False" when it had none.
Status RemoveRenewalSettings(LifecycleStore& store, ivo::PeerType type, const ivo::ChangeInitiator& initiator);

}  // namespace host::lifecycle
