// The trial of a new client pair against its peer, before the pair
// replaces the old one: it proves the pair works, or the swap waits.
#pragma once

#include <functional>
#include <optional>
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

// A trial of `type`'s `newPair` against `target`, ended by `deadline`. It
// runs with no unit of work open, so it holds no lock on the store.
using Trial = std::function<TrialResult(ivo::PeerType type, const ivo::ClientCertificate& newPair,
                                        const TrialTarget& target, const Deadline& deadline)>;

// The library's trial in `manager`'s store: a TLS handshake with the peer
// (HOST[:PORT], the target's server name sent and checked), with the
// type's stored server certificate as the only trust anchor, offering the
// new pair. It proves the pair only when the peer asked for a client
// certificate and accepted this one: in TLS 1.3 the peer's verdict comes
// after the handshake, and is read until its first answer or
// alert within the deadline. A peer that asks for none, or gives no verdict
// in time, leaves the pair unproven, and a trial that proves nothing fails.
// `manager` must outlive the trial. Never throws.
Trial TlsTrial(ivo::ICertificatesManager& manager);

// The peer to try a new pair against: none unless `tryPair`; else the one
// the order names; else the one that refused the certificate kept pending
// (whoever retries tries it again); else the one the settings name; none
// when there is none of them.
TrialTarget ChooseTrial(bool tryPair, const std::optional<TrialTarget>& ordered, const PendingKey& pending,
                        const TrialTarget& configured);

}  // namespace host::lifecycle
