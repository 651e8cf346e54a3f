// What a type's slots give a probe, read in one read-only session that ends
// before any probe starts (a probe holds no lock on the store).
#pragma once

#include <map>
#include <set>

#include "host/monitoring/peer_probe.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

using host::monitoring::PeerSlots;

// The slots of `types` (see host::monitoring::ReadPeerSlots). Throws Failure
// when the store or the component cannot be used.
std::map<ivo::PeerType, PeerSlots> ReadPeerSlots(const RunOptions& options, const std::set<ivo::PeerType>& types);

}  // namespace certctl
