// A probe of a type's peer with its stored pair: the slots read from the
// store as they hold them, the handshake, the revocation fetches for a
// trusted peer, then the verdict (peer_verdict.h).
#pragma once

#include <optional>
#include <string>

#include "host/monitoring/peer_verdict.h"
#include "host/service_host.h"
#include "host/status.h"
#include "host/storage/sqlite_store.h"
#include "ossl/pkcs12.h"

namespace host::monitoring {

// What a type's slots give a probe: the stored server certificate (the
// trust anchor) and the client certificate with its key. The container's
// password is used to open it and wiped; only the opened certificate and
// key stay, in this process.
struct PeerSlots {
  explicit PeerSlots(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  ossl::UniquePtr<X509> anchor;
  std::optional<ossl::Container> client;  // when one is stored
  std::string problem;                    // why no probe can run: "no edr server certificate is stored"
};

// The slots of `type` in `store`, read through `services` as the component
// returns them, without starting a manager: a probe costs one handshake and
// one opening of the container, and a record of another slot that keeps a
// manager from starting does not keep this slot from being probed. Refused
// only for the store's failure (storeFailed); what the slots hold otherwise
// is said in `slots.problem`.
Status ReadPeerSlots(ServiceHost& services, SqliteStore& store, ivo::PeerType type, PeerSlots& slots);

// Probes `target` with the slots and judges at the system's clock what it
// saw. Never throws for what the network or the peer does.
ProbeVerdict ProbePeer(const PeerSlots& slots, const tls::PeerAddress& target, const ProbeOptions& options);

}  // namespace host::monitoring
