// The host's event publisher: hands every published event to its sink, and
// keeps a copy of each while recording (off by default).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/fault_injector.h"
#include "host/history.h"
#include "host/host_object.h"
#include "ivo/events.h"

namespace host {

class EventPublisher : public HostObject<ivo::IEventPublisher> {
 public:
  // Called with each published event, under no lock of the publisher's.
  using Sink = std::function<void(const ivo::CertificateEvent& event)>;

  explicit EventPublisher(std::shared_ptr<FaultInjector> faults) : m_faults(std::move(faults)) {}

  ozo::result_t Publish(const ivo::CertificateEvent* event) override;

  void SetSink(Sink sink);
  void SetRecording(bool on) { m_events.SetRecording(on); }
  std::vector<ivo::CertificateEvent> events() const { return m_events.items(); }
  void Clear() { m_events.Clear(); }

 protected:
  ~EventPublisher() override = default;

 private:
  std::shared_ptr<FaultInjector> m_faults;
  mutable std::mutex m_mutex;
  Sink m_sink;
  History<ivo::CertificateEvent> m_events;
};

}  // namespace host
