// The host's policy provider: a set of settings locked against local change.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

#include "host/host_object.h"
#include "ivo/policy.h"

namespace host {

// CheckChangePermission allows a change unless its setting is locked; a
// locked setting is refused with "Access denied". The locks live in the
// provider, or where KeepLocksIn says (a store shared with other processes):
// then each question reads them there, and a question that cannot be
// answered refuses the change with the store's failure. Thread-safe.
class PolicyProvider : public HostObject<ivo::IPolicyProvider> {
 public:
  struct LockStore {
    std::function<ozo::result_t(std::uint32_t settingId, bool& locked)> read;
    std::function<ozo::result_t(std::uint32_t settingId, bool locked)> write;
  };

  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override;
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked) override;
  ozo::result_t CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) override;

  void KeepLocksIn(LockStore store);

 protected:
  ~PolicyProvider() override = default;

 private:
  mutable std::mutex m_mutex;
  std::set<std::uint32_t> m_locked;
  LockStore m_store;
};

}  // namespace host
