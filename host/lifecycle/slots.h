// What each slot's renewals stand at, read from the store and the component
// alone: what status, monitoring and the renewal of all due slots go by.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "host/lifecycle/records.h"
#include "host/lifecycle/store.h"
#include "host/status.h"
#include "ivo/certificates_manager.h"

namespace host::lifecycle {

struct SlotRenewals {
  explicit SlotRenewals(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  std::optional<RenewalConfig> settings;
  RenewalState state;      // all empty before any attempt
  bool attempted = false;  // the store keeps a state
  // Of the slot's client certificate, when it holds one that opens with its
  // password; its due time by the settings' beforeDays (DueTime).
  std::optional<std::int64_t> notBefore, notAfter, due;
  // When the timer will next renew it (NextAttempt): only a slot with
  // settings and a certificate is renewed on its own.
  std::optional<std::int64_t> nextAttempt;
  bool renewsOnItsOwn() const { return settings && due; }
};

// The validity period of a slot's client certificate.
struct PairDates {
  std::int64_t notBefore = 0;
  std::int64_t notAfter = 0;
};

// Every type whose slot holds a client certificate (`pairs`: the dates of
// those that can be read), renewal settings or a renewal state, in type
// order; the store's failure with its words. Reads in no unit of work of
// its own.
Status ReadSlotRenewals(LifecycleStore& store, const std::map<ivo::PeerType, PairDates>& pairs,
                        std::vector<SlotRenewals>& slots);
// The same, the pairs read through `manager` (opened with their passwords).
Status ReadSlotRenewals(LifecycleStore& store, ivo::ICertificatesManager& manager, std::vector<SlotRenewals>& slots);

}  // namespace host::lifecycle
