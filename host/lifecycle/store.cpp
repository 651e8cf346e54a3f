#include "host/lifecycle/store.h"

#include "host/storage/sqlite_store.h"

namespace host::lifecycle {

using ozo::result_t;

result_t SqliteLifecycleStore::Begin() { return m_store.BeginWork(); }
result_t SqliteLifecycleStore::Commit() { return m_store.CommitWork(); }
void SqliteLifecycleStore::Rollback() { m_store.RollbackWork(); }

result_t SqliteLifecycleStore::GetPendingKey(ivo::CertificateType type, PendingKey& pending) {
  return m_store.pendingKeys().Get(type, pending);
}
result_t SqliteLifecycleStore::PutPendingKey(ivo::CertificateType type, const PendingKey& pending) {
  return m_store.pendingKeys().Put(type, pending);
}
result_t SqliteLifecycleStore::RemovePendingKey(ivo::CertificateType type) {
  return m_store.pendingKeys().Remove(type);
}
result_t SqliteLifecycleStore::GetRenewalConfig(ivo::CertificateType type, RenewalConfig& config) {
  return m_store.renewalConfigs().Get(type, config);
}
result_t SqliteLifecycleStore::PutRenewalConfig(ivo::CertificateType type, const RenewalConfig& config) {
  return m_store.renewalConfigs().Put(type, config);
}
result_t SqliteLifecycleStore::RemoveRenewalConfig(ivo::CertificateType type) {
  return m_store.renewalConfigs().Remove(type);
}
result_t SqliteLifecycleStore::RenewalConfigs(std::map<std::uint32_t, RenewalConfig>& configs) {
  return m_store.renewalConfigs().All(configs);
}
result_t SqliteLifecycleStore::PendingKeyTypes(std::map<std::uint32_t, std::int64_t>& created) {
  return m_store.pendingKeys().Numbers("created", created);
}
result_t SqliteLifecycleStore::GetRenewalState(ivo::CertificateType type, RenewalState& state) {
  return m_store.renewalStates().Get(type, state);
}
result_t SqliteLifecycleStore::PutRenewalState(ivo::CertificateType type, const RenewalState& state) {
  return m_store.renewalStates().Put(type, state);
}
result_t SqliteLifecycleStore::IsSettingLocked(std::uint32_t settingId, bool& locked) {
  return m_store.locks().IsLocked(settingId, locked);
}
result_t SqliteLifecycleStore::Journal(const ivo::CertificateEvent& record) { return m_store.journal().Append(record); }

}  // namespace host::lifecycle
