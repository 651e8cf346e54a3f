// The host's service locator: a table of services by interface id.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "host/host_object.h"
#include "ozo/services.h"

namespace host {

// GetInterface answers from the table; an id without a service gives
// "Interface not supported" (0x80000001). Thread-safe.
class ServiceLocator : public HostObject<ozo::IServiceLocator> {
 public:
  ozo::result_t GetInterface(ozo::iid_t iid, std::uint32_t serviceKey, void** out) override;

  // Hands out `service` (already the interface of `iid`) for `iid`.
  void Register(ozo::iid_t iid, ozo::ref_ptr<ozo::IObject> service);
  void Unregister(ozo::iid_t iid);
  // The services handed out, by interface id.
  std::map<ozo::iid_t, ozo::ref_ptr<ozo::IObject>> services() const;
  // Drops every service (breaks the cycles of services that hold the locator).
  void Clear();

 protected:
  ~ServiceLocator() override = default;

 private:
  mutable std::mutex m_mutex;
  std::map<ozo::iid_t, ozo::ref_ptr<ozo::IObject>> m_services;
};

}  // namespace host
