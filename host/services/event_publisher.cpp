#include "host/services/event_publisher.h"

namespace host {

ozo::result_t EventPublisher::Publish(const ivo::CertificateEvent* event) {
  if (const ozo::result_t fault = m_faults->Enter("IEventPublisher::Publish"); ozo::Failed(fault)) return fault;
  if (!event) return ozo::results::InvalidArgument;
  Sink sink;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_recording) m_events.push_back(*event);
    sink = m_sink;
  }
  if (sink) sink(*event);
  return ozo::results::NoError;
}

void EventPublisher::SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sink = std::move(sink);
}

void EventPublisher::SetRecording(bool on) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_recording = on;
}

std::vector<ivo::CertificateEvent> EventPublisher::events() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

void EventPublisher::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_events.clear();
}

}  // namespace host
