// A probe of a type's peer, run: the handshake with the stored pair, the
// revocation fetches for a trusted peer, then the verdict.
#pragma once

#include "tools/certctl/cli/values.h"
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/peer_slots.h"

namespace certctl {

// Probes `target` with the slots and judges what it saw. Never throws for
// what the network or the peer does.
ProbeVerdict ProbePeer(const PeerSlots& slots, const host::tls::PeerAddress& target, const ProbeOptions& options);

}  // namespace certctl
