// The trial of a new client pair against its peer, before the pair
// replaces the old one: it proves the pair works, or the swap waits.
#pragma once

#include <functional>
#include <string>

#include "host/lifecycle/records.h"
#include "host/net/deadline.h"
#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"

namespace host::lifecycle {

// What a trial came to: the pair proven, or why not in a sentence that
// names the peer, and whether the peer could not be reached, refused the
// pair, or left it unproven (it asked for no client certificate, gave no
// verdict in time, or is not trusted).
struct TrialResult {
  enum class Verdict { Proven, Unreached, Refused, Unproven };
  Verdict verdict = Verdict::Proven;
  std::string words;
  bool proven() const { return verdict == Verdict::Proven; }
};

// A trial of `newPair` against `target`, ended by `deadline`. It runs with
// no unit of work open, so it holds no lock on the store.
using Trial = std::function<TrialResult(const ivo::ClientCertificate& newPair, const TrialTarget& target,
                                        const Deadline& deadline)>;

// The library's trial for `type`'s slots in `manager`'s store: a TLS
// handshake with the peer (HOST[:PORT], the target's server name sent and
// checked), with the type's stored server certificate as the only trust
// anchor, offering the new pair. It proves the pair only when the peer asked
// for a client certificate and accepted this one: in TLS 1.3 the peer's
// verdict comes after the handshake, and is read until its first answer or
// alert within the deadline. A peer that asks for none, or gives no verdict
// in time, leaves the pair unproven, and a trial that proves nothing fails.
// `manager` must outlive the trial. Never throws.
Trial TlsTrial(ivo::ICertificatesManager& manager, ivo::PeerType type);

// The peer to try a new pair against: none with `skip`, else `given`, else
// the one that refused the certificate kept pending (a retry tries it
// again); none when there is neither.
TrialTarget ChooseTrial(bool skip, const TrialTarget& given, const PendingKey& pending);

}  // namespace host::lifecycle
