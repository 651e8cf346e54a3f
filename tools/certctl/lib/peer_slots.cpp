#include "tools/certctl/lib/peer_slots.h"

#include "tools/certctl/lib/failure.h"

namespace certctl {

std::map<ivo::PeerType, PeerSlots> ReadPeerSlots(const RunOptions& options, const std::set<ivo::PeerType>& types) {
  Session session(options, Access::Read, true);
  std::map<ivo::PeerType, PeerSlots> slots;
  for (const ivo::PeerType type : types) {
    PeerSlots read(type);
    const host::Status status = host::monitoring::ReadPeerSlots(session.host(), session.store(), type, read);
    if (!status.ok()) throw Failure(kExitStore, status.words(), status.code());
    slots.emplace(type, std::move(read));
  }
  return slots;
}

}  // namespace certctl
