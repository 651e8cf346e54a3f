#include "host/lifecycle/store.h"

#include "host/storage/sqlite_store.h"

namespace host::lifecycle {

using ozo::result_t;

result_t SqliteLifecycleStore::Begin() { return m_store.BeginWork(); }
result_t SqliteLifecycleStore::Commit() { return m_store.CommitWork(); }
void SqliteLifecycleStore::Rollback() { m_store.RollbackWork(); }
bool SqliteLifecycleStore::InWork() { return m_store.InWork(); }
std::string SqliteLifecycleStore::FailureWords() {
  const std::string first = m_store.FirstFailure();
  return first.empty() ? m_store.LastError() : first;
}

Status StoreFailure(LifecycleStore& store, result_t result) {
  const std::string words = store.FailureWords();
  return Status::StoreFailure(
      ozo::Failed(result) ? result : ozo::results::MediaError,
      "the store cannot be used" + (words.empty() || words == "not an error" ? "" : ": " + words));
}

Status NoUnitOpen(LifecycleStore& store) {
  if (!store.InWork()) return {};
  return Status(ozo::results::InvalidState,
                "a unit of work is open on this thread: the call opens and commits its own, so call it with none");
}

result_t SqliteLifecycleStore::GetPendingKey(ivo::PeerType type, PendingKey& pending) {
  return m_store.pendingKeys().Get(type, pending);
}
result_t SqliteLifecycleStore::PutPendingKey(ivo::PeerType type, const PendingKey& pending) {
  return m_store.pendingKeys().Put(type, pending);
}
result_t SqliteLifecycleStore::RemovePendingKey(ivo::PeerType type) { return m_store.pendingKeys().Remove(type); }
result_t SqliteLifecycleStore::GetRenewalConfig(ivo::PeerType type, RenewalConfig& config) {
  return m_store.renewalConfigs().Get(type, config);
}
result_t SqliteLifecycleStore::PutRenewalConfig(ivo::PeerType type, const RenewalConfig& config) {
  return m_store.renewalConfigs().Put(type, config);
}
result_t SqliteLifecycleStore::RemoveRenewalConfig(ivo::PeerType type) { return m_store.renewalConfigs().Remove(type); }
result_t SqliteLifecycleStore::RenewalConfigs(std::map<ivo::PeerType, RenewalConfig>& configs) {
  return m_store.renewalConfigs().All(configs);
}
result_t SqliteLifecycleStore::PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& created) {
  return m_store.pendingKeys().Values("created", created);
}
result_t SqliteLifecycleStore::GetRenewalState(ivo::PeerType type, RenewalState& state) {
  return m_store.renewalStates().Get(type, state);
}
result_t SqliteLifecycleStore::PutRenewalState(ivo::PeerType type, const RenewalState& state) {
  return m_store.renewalStates().Put(type, state);
}
result_t SqliteLifecycleStore::RemoveRenewalState(ivo::PeerType type) { return m_store.renewalStates().Remove(type); }
result_t SqliteLifecycleStore::IsSettingLocked(std::uint32_t settingId, bool& locked) {
  return m_store.locks().IsLocked(settingId, locked);
}
result_t SqliteLifecycleStore::Journal(const ivo::CertificateEvent& record) { return m_store.journal().Append(record); }

}  // namespace host::lifecycle
