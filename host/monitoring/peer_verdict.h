// What a probe of a type's peer comes to, in the monitoring-plugin
// convention: judged from what the handshake showed and what the
// revocation checks found, with no I/O of its own.
#pragma once

#include <optional>
#include <string>

#include "host/monitoring/state.h"
#include "host/net/deadline.h"
#include "host/revocation/revocation.h"
#include "host/tls/handshake.h"
#include "ivo/certificate_type_table.h"

namespace host::monitoring {

using revocation::RevocationOptions;
using revocation::RevocationPolicy;
using revocation::RevocationResult;

struct ProbeOptions {
  std::string servername;  // empty: the target's host when it is a name
  // The handshake and every revocation fetch end by it: a run's options
  // are made when the run starts.
  Deadline deadline{kDefaultTimeoutSeconds};
  Thresholds thresholds;
  RevocationOptions revocation;
};

struct ProbeVerdict {
  std::optional<ivo::PeerType> type;
  tls::PeerAddress target;
  State state = State::Unknown;
  std::string summary;
  // The stored pair works: the handshake completed, the peer is trusted and
  // refused no client certificate (its end may still be near).
  bool works = false;
  tls::HandshakeResult result;
  std::optional<std::int64_t> peerDaysLeft;
  std::string anchorSubject;    // the stored server certificate's subject
  bool clientStored = false;    // a client certificate is stored, and offered when asked for
  std::string clientSubject;    // its subject
  RevocationResult revocation;  // checked once the peer is trusted
  // The server name the probe's own request named (metrics' --probe
  // TYPE=HOST/NAME), shown with the target in the metrics' labels.
  std::string labelServername;
};

// Whether what the handshake showed means the stored pair works.
bool Works(const tls::HandshakeResult& result);

// Judges `verdict`'s facts (its result and revocation) at `now`: sets its
// state, summary, works and the peer's days left. A failed connection, an
// untrusted peer, a refused client certificate and a revocation are
// CRITICAL; a check that could not be made counts as the policy says
// (soft: OK, warn: WARNING, strict: CRITICAL); nothing stapled is CRITICAL
// with --require-stapling; an answer due for an update within the warning
// hours, an end within the thresholds, and a client certificate the peer
// did not ask for or judge are WARNING.
void JudgePeer(ProbeVerdict& verdict, const ProbeOptions& options, std::int64_t now);

// The verdict of a probe that could not run (bad usage, the store): UNKNOWN,
// for `type` and `target` when they are known.
ProbeVerdict Unknown(const std::string& why, std::optional<ivo::PeerType> type = std::nullopt,
                     const tls::PeerAddress& target = {});

// Whether a probe counts as a success in the metrics: the pair worked and
// no certificate of the chain is revoked; under strict, one whose
// revocation could not be checked fails it too.
bool ProbeSucceeded(const ProbeVerdict& verdict, RevocationPolicy policy);

}  // namespace host::monitoring
