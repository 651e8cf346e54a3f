#include "tests/support/recording_host.h"

#include "ivo/certificates_manager.h"
#include "tests/support/intercepted_storage.h"

namespace test {
namespace {

// The reference host's service of interface I.
template <class I>
ozo::ref_ptr<I> ServiceOf(host::ServiceHost& base, ozo::iid_t iid = I::IID) {
  ozo::ref_ptr<I> service;
  base.locator()->GetInterface(iid, 0, service.RefVoid());
  return service;
}

ozo::iid_t IdOf(Service service) {
  return service == Service::PolicyProvider ? ivo::IPolicyProvider::IID : ivo::IEventPublisher::IID;
}

}  // namespace

RecordingHost::RecordingHost(host::HostOptions options)
    : m_faults(std::make_shared<FaultInjector>()), m_base(std::move(options)) {
  m_locator = host::Make<InterceptingLocator>(m_faults);
  m_locatorPointer = m_locator.get();
  m_tracer = host::Make<InterceptedTracer>(ServiceOf<ozo::ITracer>(m_base), m_faults);
  m_allocator = host::Make<InterceptedAllocator>(ServiceOf<ozo::IAllocator>(m_base), m_faults);
  m_policy = host::Make<InterceptedPolicy>(ServiceOf<ivo::IPolicyProvider>(m_base), m_faults);
  m_events = host::Make<InterceptedPublisher>(ServiceOf<ivo::IEventPublisher>(m_base), m_faults);
  m_mutex = host::Make<InterceptedMutex>(ServiceOf<ivo::IStorageMutex>(m_base));
  m_serializer = host::Make<InterceptedSerializer>(ServiceOf<ozo::IStorageSerializer2>(m_base), m_faults);
  m_store = InterceptStore(ozo::ref_ptr<ozo::IPersistentStorage>(m_base.store()), m_faults);
  m_root = InterceptNode(ozo::ref_ptr<ozo::IStorage>(m_base.storageRoot()), m_faults);
  const auto primaryMeta = host::Make<InterceptedPrimaryMeta>(ServiceOf<ozo::IMetaInfoProvider>(m_base), m_faults);
  const auto secondaryMeta = host::Make<InterceptedSecondaryMeta>(ServiceOf<ozo::IMetaInfoProvider2>(m_base), m_faults);
  const std::pair<ozo::iid_t, ozo::IObject*> services[] = {
      {ozo::ITracer::IID, m_tracer.get()},
      {ozo::IAllocator::IID, m_allocator.get()},
      {ivo::IPolicyProvider::IID, m_policy.get()},
      {ivo::IEventPublisher::IID, m_events.get()},
      {ozo::kStorageRootServiceId, m_root.get()},
      {ivo::IStorageMutex::IID, m_mutex.get()},
      {ozo::IStorageSerializer2::IID, m_serializer.get()},
      {ozo::IMetaInfoProvider::IID, primaryMeta.get()},
      {ozo::IMetaInfoProvider2::IID, secondaryMeta.get()},
  };
  for (const auto& [iid, service] : services) m_locator->Register(iid, ozo::ref_ptr<ozo::IObject>(service));
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
  m_locator->Clear();
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
