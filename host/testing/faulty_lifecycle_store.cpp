#include "host/testing/faulty_lifecycle_store.h"

namespace host::testing {

using ozo::result_t;

bool FaultyLifecycleStore::Fails(const std::string& call) {
  m_calls.push_back(call);
  const int count = ++m_counts[call];
  const auto failing = m_failing.find(call);
  return failing != m_failing.end() && failing->second == count;
}

result_t FaultyLifecycleStore::Begin() { return Fails("Begin") ? ozo::results::Locked : m_store.Begin(); }
result_t FaultyLifecycleStore::Commit() {
  if (!Fails("Commit")) return m_store.Commit();
  m_store.Rollback();
  return ozo::results::MediaError;
}
void FaultyLifecycleStore::Rollback() {
  m_calls.push_back("Rollback");
  m_store.Rollback();
}

// The rest only count and fail, or pass on to the store.
constexpr result_t kFailed = ozo::results::MediaError;
result_t FaultyLifecycleStore::GetPendingKey(ivo::PeerType t, lifecycle::PendingKey& p) {
  return Fails("GetPendingKey") ? kFailed : m_store.GetPendingKey(t, p);
}
result_t FaultyLifecycleStore::PutPendingKey(ivo::PeerType t, const lifecycle::PendingKey& p) {
  return Fails("PutPendingKey") ? kFailed : m_store.PutPendingKey(t, p);
}
result_t FaultyLifecycleStore::RemovePendingKey(ivo::PeerType t) {
  return Fails("RemovePendingKey") ? kFailed : m_store.RemovePendingKey(t);
}
result_t FaultyLifecycleStore::GetRenewalConfig(ivo::PeerType t, lifecycle::RenewalConfig& c) {
  return Fails("GetRenewalConfig") ? kFailed : m_store.GetRenewalConfig(t, c);
}
result_t FaultyLifecycleStore::PutRenewalConfig(ivo::PeerType t, const lifecycle::RenewalConfig& c) {
  return Fails("PutRenewalConfig") ? kFailed : m_store.PutRenewalConfig(t, c);
}
result_t FaultyLifecycleStore::RemoveRenewalConfig(ivo::PeerType t) {
  return Fails("RemoveRenewalConfig") ? kFailed : m_store.RemoveRenewalConfig(t);
}
result_t FaultyLifecycleStore::RenewalConfigs(std::map<ivo::PeerType, lifecycle::RenewalConfig>& c) {
  return Fails("RenewalConfigs") ? kFailed : m_store.RenewalConfigs(c);
}
result_t FaultyLifecycleStore::PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& c) {
  return Fails("PendingKeyTypes") ? kFailed : m_store.PendingKeyTypes(c);
}
result_t FaultyLifecycleStore::GetRenewalState(ivo::PeerType t, lifecycle::RenewalState& s) {
  return Fails("GetRenewalState") ? kFailed : m_store.GetRenewalState(t, s);
}
result_t FaultyLifecycleStore::PutRenewalState(ivo::PeerType t, const lifecycle::RenewalState& s) {
  return Fails("PutRenewalState") ? kFailed : m_store.PutRenewalState(t, s);
}
result_t FaultyLifecycleStore::RemoveRenewalState(ivo::PeerType t) {
  return Fails("RemoveRenewalState") ? kFailed : m_store.RemoveRenewalState(t);
}
result_t FaultyLifecycleStore::IsSettingLocked(std::uint32_t id, bool& locked) {
  return Fails("IsSettingLocked") ? kFailed : m_store.IsSettingLocked(id, locked);
}
result_t FaultyLifecycleStore::Journal(const ivo::CertificateEvent& record) {
  return Fails("Journal") ? kFailed : m_store.Journal(record);
}

}  // namespace host::testing
