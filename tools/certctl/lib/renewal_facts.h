// What a store says of each slot's renewals: its settings, its state, and
// when its client certificate is due. What renew-status, renew --due, check
// and metrics report.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/storage/sqlite_store.h"
#include "tools/certctl/lib/inventory.h"

namespace certctl {

struct RenewalFacts {
  explicit RenewalFacts(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  std::optional<host::lifecycle::RenewalConfig> config;
  host::lifecycle::RenewalState state;  // all empty before any attempt
  bool attempted = false;               // the store keeps a state
  std::optional<std::int64_t> due;      // when a readable client certificate is stored
  std::optional<std::int64_t> notAfter;
  // When the timer will next renew it (host::lifecycle::NextAttempt): none
  // without settings or a certificate, since nothing will.
  std::optional<std::int64_t> nextAttempt;
};

// The types with settings or a state, in order, from `session`'s store and
// `inventory` (ReadInventory of the same session). Throws Failure when the
// store fails.
std::vector<RenewalFacts> ReadRenewalFacts(Session& session, const std::vector<StoredCertificate>& inventory);

}  // namespace certctl
