#include "host/services/policy_provider.h"

namespace host {

ozo::result_t PolicyProvider::IsSettingLocked(std::uint32_t settingId, bool& locked) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_store.read) return m_store.read(settingId, locked);
  locked = m_locked.count(settingId) != 0;
  return ozo::results::NoError;
}

ozo::result_t PolicyProvider::SetSettingLocked(std::uint32_t settingId, bool locked) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_store.write) return m_store.write(settingId, locked);
  if (locked)
    m_locked.insert(settingId);
  else
    m_locked.erase(settingId);
  return ozo::results::NoError;
}

ozo::result_t PolicyProvider::CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) {
  if (!query) return ozo::results::InvalidArgument;
  bool locked = false;
  if (const ozo::result_t read = IsSettingLocked(query->settingId, locked); ozo::Failed(read)) return read;
  if (!locked) return ozo::results::NoError;
  if (reason) *reason = u"The setting is locked by the policy";
  return ozo::results::AccessDenied;
}

void PolicyProvider::KeepLocksIn(LockStore store) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_store = std::move(store);
}

}  // namespace host
