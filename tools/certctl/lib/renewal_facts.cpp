#include "tools/certctl/lib/renewal_facts.h"

#include "tools/certctl/lib/lifecycle_run.h"

namespace certctl {

std::vector<host::lifecycle::SlotRenewals> ReadRenewalFacts(Session& session,
                                                            const std::vector<StoredCertificate>& inventory) {
  std::map<ivo::PeerType, host::lifecycle::PairDates> pairs;
  for (const StoredCertificate& stored : inventory)
    if (stored.client && stored.problem.empty()) pairs[stored.type] = {stored.notBeforeSeconds, stored.notAfterSeconds};
  host::lifecycle::SqliteLifecycleStore store(session.store());
  std::vector<host::lifecycle::SlotRenewals> slots;
  ThrowIfStoreFailed(host::lifecycle::ReadSlotRenewals(store, pairs, slots));
  return slots;
}

}  // namespace certctl
