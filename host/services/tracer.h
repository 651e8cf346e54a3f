// The host's tracer: lends record buffers and forwards committed records to a
// sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "host/host_object.h"
#include "ozo/services.h"

namespace host {

// Accepts records at levels up to `threshold`; refuses higher levels with
// "Trace level prohibited". Buffers are malloc'ed; a buffer lent out and never
// committed is freed with the tracer. Committed records go to the sink and
// are not kept. Thread-safe; never throws (memory that runs out is "Out of
// memory", a sink that throws leaves its record unwritten).
class Tracer : public HostObject<ozo::ITracer> {
 public:
  using Sink = std::function<void(std::uint32_t level, const std::string& text)>;

  explicit Tracer(std::uint32_t threshold = 1000) : m_threshold(threshold) {}

  ozo::result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) noexcept override;
  ozo::result_t CommitBuffer(char* buffer, std::size_t length) noexcept override;

  void SetThreshold(std::uint32_t threshold);
  // Called for each committed record, outside the tracer's lock.
  void SetSink(Sink sink);

 protected:
  ~Tracer() override;

 private:
  mutable std::mutex m_mutex;
  std::atomic<std::uint32_t> m_threshold;
  std::shared_ptr<const Sink> m_sink;     // shared, not copied, per record
  std::map<char*, std::uint32_t> m_lent;  // buffer -> level of its record
};

}  // namespace host
