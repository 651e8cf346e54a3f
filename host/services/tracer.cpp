#include "host/services/tracer.h"

#include <cstdlib>
#include <memory>

namespace host {

Tracer::~Tracer() {
  for (const auto& lent : m_lent) std::free(lent.first);
}

ozo::result_t Tracer::ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) noexcept try {
  if (!buffer) return ozo::results::InvalidArgument;
  const bool growth = *buffer != nullptr;
  // A refused level takes no lock: a tracer that refuses costs its callers little.
  if (!growth && level > m_threshold.load(std::memory_order_relaxed)) return ozo::results::TraceLevelProhibited;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (growth) {
    const auto lent = m_lent.find(*buffer);
    if (lent == m_lent.end()) return ozo::results::OutOfMemory;
    char* grown = static_cast<char*>(std::realloc(*buffer, size ? size : 1));
    if (!grown) return ozo::results::OutOfMemory;
    const std::uint32_t recordLevel = lent->second;
    m_lent.erase(lent);
    m_lent[grown] = recordLevel;
    *buffer = grown;
    return ozo::results::NoError;
  }
  char* fresh = static_cast<char*>(std::malloc(size ? size : 1));
  if (!fresh) return ozo::results::OutOfMemory;
  try {
    m_lent[fresh] = level;
  } catch (...) {
    std::free(fresh);
    throw;
  }
  *buffer = fresh;
  return ozo::results::NoError;
} catch (...) {
  return ozo::results::OutOfMemory;
}

ozo::result_t Tracer::CommitBuffer(char* buffer, std::size_t length) noexcept try {
  std::uint32_t level = 0;
  std::string text;
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto lent = m_lent.find(buffer);
    if (lent == m_lent.end()) return ozo::results::InvalidArgument;
    level = lent->second;
    m_lent.erase(lent);
    const std::unique_ptr<char, decltype(&std::free)> owned(buffer, std::free);  // freed whatever happens next
    text.assign(buffer, length);
    sink = m_sink;
  }
  if (sink && *sink) (*sink)(level, text);
  return ozo::results::NoError;
} catch (...) {
  return ozo::results::OutOfMemory;
}

void Tracer::SetThreshold(std::uint32_t threshold) { m_threshold.store(threshold, std::memory_order_relaxed); }

void Tracer::SetSink(Sink sink) {
  auto shared = std::make_shared<const Sink>(std::move(sink));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sink = std::move(shared);
}

}  // namespace host
