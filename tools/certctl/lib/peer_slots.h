// What a type's slots give a probe or a trial: the stored server
// certificate (the trust anchor) and client certificate with its key, read
// from the store as it holds them.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The container's password is used to open it and wiped; only the opened
// certificate and key stay, in this process.
struct PeerSlots {
  explicit PeerSlots(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  UniquePtr<X509> anchor;
  std::optional<ClientFile> client;  // when one is stored
  std::string problem;               // why no probe can run: "no edr server certificate is stored"
};

// The slots of `type` as `session` reads them (a read or a write session):
// the bytes the component returns from them, read without starting a
// manager, so that a probe costs one handshake and one opening of the
// container, and a record of another slot that keeps the manager from
// starting does not keep this slot from being probed. Throws Failure when
// the store fails.
PeerSlots ReadSlots(Session& session, ivo::PeerType type);
// The slots of `types`, read in one read-only session that ends before any
// probe starts (a probe holds no lock on the store). Throws Failure when the
// store or the component cannot be used.
std::map<ivo::PeerType, PeerSlots> ReadPeerSlots(const RunOptions& options, const std::set<ivo::PeerType>& types);

}  // namespace certctl
