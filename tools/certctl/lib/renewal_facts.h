// What each slot's renewals stand at, as the lifecycle library reads them,
// with the dates of the client certificates as the inventory judged them.
#pragma once

#include <vector>

#include "host/lifecycle/slots.h"
#include "tools/certctl/lib/inventory.h"

namespace certctl {

// Throws Failure (kExitStore) when the store fails.
std::vector<host::lifecycle::SlotRenewals> ReadRenewalFacts(Session& session,
                                                            const std::vector<StoredCertificate>& inventory);

}  // namespace certctl
