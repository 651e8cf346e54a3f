#include "host/services/policy_provider.h"

namespace host {

ozo::result_t PolicyProvider::IsSettingLocked(std::uint32_t settingId, bool& locked) {
  std::lock_guard<std::mutex> lock(m_mutex);
  locked = m_locked.count(settingId) != 0;
  return ozo::results::NoError;
}

ozo::result_t PolicyProvider::SetSettingLocked(std::uint32_t settingId, bool locked) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (locked)
    m_locked.insert(settingId);
  else
    m_locked.erase(settingId);
  return ozo::results::NoError;
}

ozo::result_t PolicyProvider::CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) {
  if (const ozo::result_t fault = m_faults->Enter("IPolicyProvider::CheckChangePermission"); ozo::Failed(fault))
    return fault;
  if (!query) return ozo::results::InvalidArgument;
  m_queries.Add([query] {
    Query kept{query->settingId, {}, query->dependencies.has_value(), query->force || query->dryRun || query->notify};
    for (const ivo::PolicyValue& value : query->values)
      kept.values.emplace_back(std::string(value.name.view()), std::string(value.value.view()));
    return kept;
  });
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_locked.count(query->settingId) == 0) return ozo::results::NoError;
  if (reason) *reason = u"The setting is locked by the policy";
  return m_refusal;
}

void PolicyProvider::SetRefusalCode(ozo::result_t code) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refusal = code;
}

}  // namespace host
