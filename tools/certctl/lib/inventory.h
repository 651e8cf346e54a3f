// Every record a store holds, each judged alone by the component (see
// record_judgement.h): what list, check, metrics, repair and upgrade report.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/service_host.h"
#include "tools/certctl/lib/record_judgement.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The records of `host`'s store by type, the server's before the client's,
// read without the store's own manager: a record that keeps the manager from
// starting is listed like any other, with its problem. A record the host
// cannot read as a certificate record is listed with that problem. Throws
// Failure (kExitStore) when the store fails.
std::vector<StoredCertificate> ReadInventory(host::ServiceHost& host, const host::Module& component,
                                             const TraceRoute& trace);
std::vector<StoredCertificate> ReadInventory(Session& session);

// The judgement of the record in one slot, nullopt when the slot is empty.
std::optional<StoredCertificate> JudgeSlot(host::ServiceHost& host, const host::Module& component,
                                           const TraceRoute& trace, ivo::PeerType type, bool client);

// A type's pending key (a key waiting for its certificate, see certctl
// request): when it was made, seconds since 1970, and whether a signed
// certificate waits with it (one a peer refused in a trial).
struct PendingKeyFacts {
  std::int64_t created = 0;
  bool certificateKept = false;
  std::string madeBy;  // see host::lifecycle::PendingKey
};
using PendingKeys = std::map<ivo::PeerType, PendingKeyFacts>;
// Read without the keys themselves. Throws Failure (kExitStore) when the
// store fails.
PendingKeys ReadPendingKeys(Session& session);

// What takes a pending key on ("certctl install edr FILE takes its
// certificate", or, when one is kept, "certctl install edr tries the kept
// certificate again").
std::string PendingKeyHint(ivo::PeerType type, const PendingKeyFacts& facts);

// The sentence that names each record keeping the manager from starting,
// with the way out; empty when there is none.
std::string UnloadableRecords(Session& session);

}  // namespace certctl
