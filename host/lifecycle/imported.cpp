#include "host/lifecycle/imported.h"

#include "host/lifecycle/pending_key.h"
#include "host/storage/journal_records.h"

namespace host::lifecycle {

ozo::result_t SettleImported(LifecycleStore& store, bool withSettings, const ivo::ChangeInitiator& initiator,
                             std::vector<Settled>& settled) {
  std::map<ivo::PeerType, RenewalConfig> configs;
  std::map<ivo::PeerType, std::int64_t> pendingKeys;
  ozo::result_t result = store.RenewalConfigs(configs);
  if (ozo::Succeeded(result)) result = store.PendingKeyTypes(pendingKeys);
  const auto journal = [&](ivo::PeerType type, const std::string& detail) {
    return store.Journal(OperationRecord("restore", ClientSlot(type), detail, initiator));
  };
  for (auto config = configs.begin(); ozo::Succeeded(result) && config != configs.end(); ++config) {
    const auto& [type, settings] = *config;
    if (!withSettings) {
      result = store.RemoveRenewalConfig(type);
      if (ozo::Succeeded(result)) result = journal(type, "renewal settings not imported");
      settled.push_back({type, Settled::Kind::SettingsDropped, settings.server, ""});
    } else {
      result = journal(type, "renewal settings imported from " + settings.server +
                                 (settings.hook.empty() ? "" : ", with the hook " + settings.hook));
      settled.push_back({type, Settled::Kind::SettingsImported, settings.server, settings.hook});
    }
  }
  for (auto pending = pendingKeys.begin(); ozo::Succeeded(result) && pending != pendingKeys.end(); ++pending) {
    const ivo::PeerType type = pending->first;
    PendingKey kept;
    result = store.GetPendingKey(type, kept);
    if (ozo::Failed(result) || kept.certificates.empty()) continue;
    result = KeepPendingCertificate(store, type, "");
    if (ozo::Succeeded(result)) result = journal(type, "the pending certificate dropped");
    settled.push_back({type, Settled::Kind::PendingCertificateDropped, "", ""});
  }
  return result;
}

}  // namespace host::lifecycle
