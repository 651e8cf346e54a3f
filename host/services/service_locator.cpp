#include "host/services/service_locator.h"

namespace host {

ozo::result_t ServiceLocator::GetInterface(ozo::iid_t iid, std::uint32_t serviceKey, void** out) {
  if (!out || serviceKey != 0) return ozo::results::InvalidArgument;
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto service = m_services.find(iid);
  if (service == m_services.end()) return ozo::results::InterfaceNotSupported;
  service->second->AddRef();
  *out = service->second.get();
  return ozo::results::NoError;
}

void ServiceLocator::Register(ozo::iid_t iid, ozo::ref_ptr<ozo::IObject> service) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_services[iid] = std::move(service);
}

void ServiceLocator::Unregister(ozo::iid_t iid) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_services.erase(iid);
}

std::map<ozo::iid_t, ozo::ref_ptr<ozo::IObject>> ServiceLocator::services() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_services;
}

void ServiceLocator::Clear() {
  std::map<ozo::iid_t, ozo::ref_ptr<ozo::IObject>> services;
  std::lock_guard<std::mutex> lock(m_mutex);
  services.swap(m_services);
}

}  // namespace host
