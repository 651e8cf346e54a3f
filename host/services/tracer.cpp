#include "host/services/tracer.h"

#include <cstdlib>

namespace host {

Tracer::Tracer(std::shared_ptr<FaultInjector> faults, std::uint32_t threshold)
    : m_faults(std::move(faults)), m_threshold(threshold) {}

Tracer::~Tracer() {
  for (const auto& lent : m_lent) std::free(lent.first);
}

ozo::result_t Tracer::ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) {
  if (!buffer) return ozo::results::InvalidArgument;
  const bool growth = *buffer != nullptr;
  if (const ozo::result_t fault = m_faults->Enter(growth ? "ITracer::ReserveBuffer/grow" : "ITracer::ReserveBuffer");
      ozo::Failed(fault))
    return fault;
  m_requests.Add([size] { return size; });
  // A refused level takes no lock: a tracer that refuses costs its callers little.
  if (!growth && level > m_threshold.load(std::memory_order_relaxed)) return ozo::results::TraceLevelProhibited;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (growth) {
    if (m_refuseGrowth || m_lent.count(*buffer) == 0) return ozo::results::OutOfMemory;
    char* grown = static_cast<char*>(std::realloc(*buffer, size ? size : 1));
    if (!grown) return ozo::results::OutOfMemory;
    const std::uint32_t recordLevel = m_lent[*buffer];
    m_lent.erase(*buffer);
    m_lent[grown] = recordLevel;
    *buffer = grown;
    return ozo::results::NoError;
  }
  char* fresh = static_cast<char*>(std::malloc(size ? size : 1));
  if (!fresh) return ozo::results::OutOfMemory;
  m_lent[fresh] = level;
  *buffer = fresh;
  return m_acceptCode;
}

ozo::result_t Tracer::CommitBuffer(char* buffer, std::size_t length) {
  TraceLine line{0, {}};
  Sink sink;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto lent = m_lent.find(buffer);
    if (lent == m_lent.end()) return ozo::results::InvalidArgument;
    line.level = lent->second;
    m_lent.erase(lent);
    line.text.assign(buffer, length);
    std::free(buffer);
    sink = m_sink;
  }
  m_lines.Add([&] { return line; });
  if (sink) sink(line.level, line.text);
  return ozo::results::NoError;
}

void Tracer::SetThreshold(std::uint32_t threshold) { m_threshold.store(threshold, std::memory_order_relaxed); }

void Tracer::SetAcceptCode(ozo::result_t code) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_acceptCode = code;
}

void Tracer::SetRefuseGrowth(bool refuse) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refuseGrowth = refuse;
}

void Tracer::SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sink = std::move(sink);
}

void Tracer::SetRecording(bool on) {
  m_lines.SetRecording(on);
  m_requests.SetRecording(on);
}

void Tracer::Clear() {
  m_lines.Clear();
  m_requests.Clear();
}

}  // namespace host
