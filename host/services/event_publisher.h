// The host's event publisher: hands every published event to its sink.
#pragma once

#include <functional>
#include <mutex>

#include "host/host_object.h"
#include "ivo/events.h"

namespace host {

class EventPublisher : public HostObject<ivo::IEventPublisher> {
 public:
  // Called with each published event, under no lock of the publisher's.
  using Sink = std::function<void(const ivo::CertificateEvent& event)>;

  ozo::result_t Publish(const ivo::CertificateEvent* event) override;

  void SetSink(Sink sink);

 protected:
  ~EventPublisher() override = default;

 private:
  std::mutex m_mutex;
  Sink m_sink;
};

}  // namespace host
