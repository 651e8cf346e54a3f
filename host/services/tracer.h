// The host's tracer: keeps committed records and forwards them to a sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/fault_injector.h"
#include "host/history.h"
#include "host/host_object.h"
#include "ozo/services.h"

namespace host {

struct TraceLine {
  std::uint32_t level;
  std::string text;
};

// Accepts records at levels up to `threshold`; refuses higher levels with
// "Trace level prohibited". Buffers are malloc'ed; a buffer lent out and never
// committed is freed with the tracer. Committed records go to the sink; they
// are kept in memory (with the buffer sizes asked for) only while recording,
// which is off by default. Thread-safe.
class Tracer : public HostObject<ozo::ITracer> {
 public:
  using Sink = std::function<void(std::uint32_t level, const std::string& text)>;

  explicit Tracer(std::shared_ptr<FaultInjector> faults, std::uint32_t threshold = 1000);

  ozo::result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) override;
  ozo::result_t CommitBuffer(char* buffer, std::size_t length) override;

  void SetThreshold(std::uint32_t threshold);
  // Answer new records with this success code (> 0) instead of 0: the
  // writer must then treat the record as refused.
  void SetAcceptCode(ozo::result_t code);
  // Refuse every request to enlarge an open record.
  void SetRefuseGrowth(bool refuse);
  // Called for each committed record, outside the tracer's lock.
  void SetSink(Sink sink);
  // Keep committed records and requested sizes for lines() and requests().
  void SetRecording(bool on);

  std::vector<TraceLine> lines() const { return m_lines.items(); }
  // Sizes asked for by ReserveBuffer, in order (growth included).
  std::vector<std::size_t> requests() const { return m_requests.items(); }
  void Clear();

 protected:
  ~Tracer() override;

 private:
  std::shared_ptr<FaultInjector> m_faults;
  mutable std::mutex m_mutex;
  std::atomic<std::uint32_t> m_threshold;
  ozo::result_t m_acceptCode = ozo::results::NoError;
  bool m_refuseGrowth = false;
  Sink m_sink;
  std::map<char*, std::uint32_t> m_lent;  // buffer -> level of its record
  History<TraceLine> m_lines;
  History<std::size_t> m_requests;
};

}  // namespace host
