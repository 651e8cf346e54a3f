// The reference host as tests use it: the component is handed a locator whose
// every service is the reference host's own behind an intercepting wrapper
// (intercepted_services.h), so a test can fail any host call, withhold a
// service, and inspect trace records, events, policy queries and lock
// acquisitions. Nothing of this lives in the shipped host.
#pragma once

#include <string>
#include <vector>

#include "host/service_host.h"
#include "tests/support/intercepted_services.h"

namespace test {

struct TraceLine {
  std::uint32_t level;
  std::string text;
};

// The services a test can withhold.
enum class Service { PolicyProvider, EventPublisher };

class RecordingHost {
 public:
  explicit RecordingHost(host::HostOptions options = {});
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // What the component is given: the intercepting locator.
  ozo::IServiceLocator* locator() const noexcept { return m_locator.get(); }
  ozo::IServiceLocator** locatorAddress() noexcept { return &m_locatorPointer; }
  FaultInjector& faults() const noexcept { return *m_faults; }

  // The store and the component's tree, intercepted like the services.
  ozo::IPersistentStorage* store() const noexcept { return m_store.get(); }
  ozo::IStorage* storageRoot() const noexcept { return m_root.get(); }
  // The reference host underneath, for what tests prepare without the
  // component (its calls are not intercepted).
  host::ServiceHost& base() noexcept { return m_base; }

  // Trace records committed since the last ClearTrace, and the buffer sizes
  // asked for.
  std::vector<TraceLine> traceLines() const;
  void ClearTrace();
  InterceptedTracer& tracer() const noexcept { return *m_tracer; }
  InterceptedAllocator& allocator() const noexcept { return *m_allocator; }
  InterceptedPolicy& policy() const noexcept { return *m_policy; }
  InterceptedPublisher& events() const noexcept { return *m_events; }
  InterceptedMutex& storageMutex() const noexcept { return *m_mutex; }
  InterceptedSerializer& serializer() const noexcept { return *m_serializer; }

  // Stops (or resumes) handing out a service.
  void Remove(Service service);
  void Restore(Service service);

 private:
  // Makes the wrapper W of `inner` into `slot` (with this host's faults) and
  // returns it as the locator hands it out.
  template <class W, class I>
  ozo::ref_ptr<ozo::IObject> Keep(ozo::ref_ptr<W>& slot, ozo::ref_ptr<I> inner) {
    slot = host::Make<W>(std::move(inner), m_faults);
    return ozo::ref_ptr<ozo::IObject>(slot.get());
  }

  Faults m_faults;
  host::ServiceHost m_base;
  ozo::ref_ptr<InterceptingLocator> m_locator;
  ozo::IServiceLocator* m_locatorPointer = nullptr;
  ozo::ref_ptr<InterceptedTracer> m_tracer;
  ozo::ref_ptr<InterceptedAllocator> m_allocator;
  ozo::ref_ptr<InterceptedPolicy> m_policy;
  ozo::ref_ptr<InterceptedPublisher> m_events;
  ozo::ref_ptr<InterceptedMutex> m_mutex;
  ozo::ref_ptr<InterceptedSerializer> m_serializer;
  ozo::ref_ptr<ozo::IPersistentStorage> m_store;
  ozo::ref_ptr<ozo::IStorage> m_root;
  History<TraceLine> m_lines;
};

}  // namespace test
