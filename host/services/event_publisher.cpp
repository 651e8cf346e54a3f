#include "host/services/event_publisher.h"

namespace host {

ozo::result_t EventPublisher::Publish(const ivo::CertificateEvent* event) {
  if (!event) return ozo::results::InvalidArgument;
  Sink sink;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    sink = m_sink;
  }
  if (sink) sink(*event);
  return ozo::results::NoError;
}

void EventPublisher::SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sink = std::move(sink);
}

}  // namespace host
