// The host's event publisher: hands every published event to its sink.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "host/host_object.h"
#include "ivo/events.h"

namespace host {

class EventPublisher : public HostObject<ivo::IEventPublisher> {
 public:
  // Called with each published event, under no lock of the publisher's.
  using Sink = std::function<void(const ivo::CertificateEvent& event)>;

  // Hands the event to the sink. Never throws: a sink that throws makes the
  // publication "Unspecified error". The sink is shared, not copied, per
  // call, so a publication allocates nothing.
  ozo::result_t Publish(const ivo::CertificateEvent* event) noexcept override;

  void SetSink(Sink sink);

 protected:
  ~EventPublisher() override = default;

 private:
  std::mutex m_mutex;
  std::shared_ptr<const Sink> m_sink;
};

}  // namespace host
