// The host's policy provider: a set of settings locked against local change.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include "host/host_object.h"
#include "ivo/policy.h"

namespace host {

// CheckChangePermission allows a change unless its setting is locked; a
// locked setting is refused with "Access denied". Thread-safe.
class PolicyProvider : public HostObject<ivo::IPolicyProvider> {
 public:
  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override;
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked) override;
  ozo::result_t CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) override;

 protected:
  ~PolicyProvider() override = default;

 private:
  mutable std::mutex m_mutex;
  std::set<std::uint32_t> m_locked;
};

}  // namespace host
