#include "host/services/event_publisher.h"

namespace host {

ozo::result_t EventPublisher::Publish(const ivo::CertificateEvent* event) noexcept {
  if (!event) return ozo::results::InvalidArgument;
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    sink = m_sink;
  }
  try {
    if (sink && *sink) (*sink)(*event);
  } catch (...) {
    return ozo::results::UnspecifiedError;
  }
  return ozo::results::NoError;
}

void EventPublisher::SetSink(Sink sink) {
  auto shared = std::make_shared<const Sink>(std::move(sink));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sink = std::move(shared);
}

}  // namespace host
