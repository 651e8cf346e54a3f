// The trial a renewal or an installation runs before it keeps a new pair:
// the pair against the type's peer, with the stored server certificate as
// the anchor. Shared by the commands that install (not a command itself).
#pragma once

#include "tools/certctl/lib/peer_slots.h"
#include "tools/certctl/probe/verdict.h"

namespace certctl {

// Why `record`, a new pair for the slots' type, does not work against
// `target` (the handshake of a probe), or empty when it does.
std::string TrialOfNewPair(PeerSlots slots, const ivo::ClientCertificate& record, const ProbeTarget& target,
                           const ProbeOptions& options);

}  // namespace certctl
