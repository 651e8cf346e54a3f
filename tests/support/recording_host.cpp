#include "tests/support/recording_host.h"

#include <functional>
#include <map>
#include <stdexcept>

#include "ivo/certificates_manager.h"
#include "tests/support/intercepted_storage.h"

namespace test {
namespace {

template <class I>
ozo::ref_ptr<I> As(ozo::IObject* service) {
  ozo::ref_ptr<I> typed;
  ozo::QueryInterface(service, typed);
  return typed;
}

ozo::iid_t IdOf(Service service) {
  return service == Service::PolicyProvider ? ivo::IPolicyProvider::IID : ivo::IEventPublisher::IID;
}

}  // namespace

// Every service the reference host hands out is handed out intercepted; a
// service this table does not know stops the test, so none reaches the
// component unintercepted.
RecordingHost::RecordingHost(host::HostOptions options)
    : m_faults(std::make_shared<FaultInjector>()), m_base(std::move(options)) {
  m_locator = host::Make<InterceptingLocator>(m_faults);
  m_locatorPointer = m_locator.get();
  const std::map<ozo::iid_t, std::function<ozo::ref_ptr<ozo::IObject>(ozo::IObject*)>> intercept = {
      {ozo::ITracer::IID, [&](ozo::IObject* service) { return Keep(m_tracer, As<ozo::ITracer>(service)); }},
      {ozo::IAllocator::IID, [&](ozo::IObject* service) { return Keep(m_allocator, As<ozo::IAllocator>(service)); }},
      {ivo::IPolicyProvider::IID,
       [&](ozo::IObject* service) { return Keep(m_policy, As<ivo::IPolicyProvider>(service)); }},
      {ivo::IEventPublisher::IID,
       [&](ozo::IObject* service) { return Keep(m_events, As<ivo::IEventPublisher>(service)); }},
      {ivo::IStorageMutex::IID,
       [&](ozo::IObject* service) {
         m_mutex = host::Make<InterceptedMutex>(As<ivo::IStorageMutex>(service));
         return ozo::ref_ptr<ozo::IObject>(m_mutex.get());
       }},
      {ozo::IStorageSerializer2::IID,
       [&](ozo::IObject* service) { return Keep(m_serializer, As<ozo::IStorageSerializer2>(service)); }},
      {ozo::IMetaInfoProvider::IID,
       [&](ozo::IObject* service) {
         return ozo::ref_ptr<ozo::IObject>(
             host::Make<InterceptedPrimaryMeta>(As<ozo::IMetaInfoProvider>(service), m_faults));
       }},
      {ozo::IMetaInfoProvider2::IID,
       [&](ozo::IObject* service) {
         return ozo::ref_ptr<ozo::IObject>(
             host::Make<InterceptedSecondaryMeta>(As<ozo::IMetaInfoProvider2>(service), m_faults));
       }},
      {ozo::kStorageRootServiceId,
       [&](ozo::IObject* service) {
         m_root = InterceptNode(As<ozo::IStorage>(service), m_faults);
         return ozo::ref_ptr<ozo::IObject>(m_root.get());
       }},
  };
  for (const auto& [iid, service] : m_base.services()) {
    const auto wrap = intercept.find(iid);
    if (wrap == intercept.end())
      throw std::logic_error("the test host cannot intercept service " + std::to_string(iid));
    m_locator->services().Register(iid, wrap->second(service.get()));
  }
  m_store = InterceptStore(ozo::ref_ptr<ozo::IPersistentStorage>(m_base.store()), m_faults);
  m_tracer->requests().SetRecording(true);
  m_policy->queries().SetRecording(true);
  m_events->events().SetRecording(true);
  m_mutex->acquisitions().SetRecording(true);
  m_lines.SetRecording(true);
  m_faults->SetRecording(true);
  m_base.tracer().SetSink([this](std::uint32_t level, const std::string& text) {
    m_lines.Add([&] { return TraceLine{level, text}; });
  });
}

RecordingHost::~RecordingHost() {
  m_locator->services().Clear();
  m_base.tracer().SetSink(nullptr);
}

std::vector<TraceLine> RecordingHost::traceLines() const { return m_lines.items(); }

void RecordingHost::ClearTrace() {
  m_lines.Clear();
  m_tracer->requests().Clear();
}

void RecordingHost::Remove(Service service) { m_locator->Withhold(IdOf(service), true); }

void RecordingHost::Restore(Service service) { m_locator->Withhold(IdOf(service), false); }

}  // namespace test
