#include "host/lifecycle/slots.h"

#include <string_view>

#include "host/lifecycle/schedule.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {

namespace results = ozo::results;

Status ReadSlotRenewals(LifecycleStore& store, const std::map<ivo::PeerType, PairDates>& pairs,
                        std::vector<SlotRenewals>& slots) {
  slots.clear();
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    SlotRenewals slot(type);
    RenewalConfig settings;
    if (const ozo::result_t read = store.GetRenewalConfig(type, settings); ozo::Succeeded(read))
      slot.settings = std::move(settings);
    else if (read != results::NotFound)
      return StoreFailure(store, read);
    const ozo::result_t state = store.GetRenewalState(type, slot.state);
    if (ozo::Failed(state) && state != results::NotFound) return StoreFailure(store, state);
    slot.attempted = ozo::Succeeded(state);
    const auto pair = pairs.find(type);
    if (pair != pairs.end()) {
      slot.notBefore = pair->second.notBefore;
      slot.notAfter = pair->second.notAfter;
      slot.due = DueTime(*slot.notBefore, *slot.notAfter, slot.settings ? slot.settings->beforeDays : std::nullopt);
    }
    if (slot.renewsOnItsOwn()) slot.nextAttempt = NextAttempt(*slot.due, slot.state);
    if (pair != pairs.end() || slot.settings || slot.attempted) slots.push_back(std::move(slot));
  }
  return {};
}

Status ReadSlotRenewals(LifecycleStore& store, ivo::ICertificatesManager& manager, std::vector<SlotRenewals>& slots) {
  std::map<ivo::PeerType, PairDates> pairs;
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    ivo::ClientCertificate record;
    ossl::Container pair;
    if (ozo::Succeeded(manager.GetClientCertificate(type, record)) &&
        ossl::OpenContainer(ossl::View(record.certificate), record.password.c_str(), pair) ==
            ossl::ContainerProblem::None)
      pairs[type] = {ossl::SecondsOf(X509_get0_notBefore(pair.certificate.get())).value_or(0),
                     ossl::SecondsOf(X509_get0_notAfter(pair.certificate.get())).value_or(0)};
  }
  return ReadSlotRenewals(store, pairs, slots);
}

}  // namespace host::lifecycle
