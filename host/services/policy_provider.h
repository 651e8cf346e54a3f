// The host's policy provider: a set of settings locked against local change.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "host/fault_injector.h"
#include "host/history.h"
#include "host/host_object.h"
#include "ivo/policy.h"

namespace host {

// CheckChangePermission allows a change unless its setting is locked; a
// locked setting is refused with the refusal code ("Access denied" unless
// set otherwise). While recording (off by default) every query is kept.
class PolicyProvider : public HostObject<ivo::IPolicyProvider> {
 public:
  struct Query {
    std::uint32_t settingId;
    std::vector<std::pair<std::string, std::string>> values;
    bool dependenciesPresent;
    bool anyFlagSet;
  };

  explicit PolicyProvider(std::shared_ptr<FaultInjector> faults) : m_faults(std::move(faults)) {}

  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override;
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked) override;
  ozo::result_t CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) override;

  void SetRefusalCode(ozo::result_t code);
  void SetRecording(bool on) { m_queries.SetRecording(on); }
  std::vector<Query> queries() const { return m_queries.items(); }

 protected:
  ~PolicyProvider() override = default;

 private:
  std::shared_ptr<FaultInjector> m_faults;
  mutable std::mutex m_mutex;
  std::set<std::uint32_t> m_locked;
  ozo::result_t m_refusal = ozo::results::AccessDenied;
  History<Query> m_queries;
};

}  // namespace host
