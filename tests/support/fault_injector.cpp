#include "tests/support/fault_injector.h"

namespace test {

ozo::result_t FaultInjector::Enter(std::string_view operation) noexcept {
  const std::uint64_t call = m_calls.fetch_add(1, std::memory_order_relaxed) + 1;
  try {
    m_journal.Add([operation] { return std::string(operation); });
  } catch (...) {  // out of memory: the journal misses this call
  }
  if (!m_armed.load(std::memory_order_acquire)) return ozo::results::NoError;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failOrdinal != 0 && call == m_failOrdinal) return m_failCode;
  for (OperationFault& fault : m_operations) {
    if (operation.substr(0, fault.prefix.size()) != fault.prefix) continue;
    if (fault.skip > 0) {
      --fault.skip;
      continue;
    }
    if (fault.times == 0) continue;
    --fault.times;
    return fault.code;
  }
  return ozo::results::NoError;
}

void FaultInjector::FailCall(std::uint64_t ordinal, ozo::result_t code) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failOrdinal = ordinal;
  m_failCode = code;
  m_armed.store(true, std::memory_order_release);
}

void FaultInjector::FailOperation(std::string operation, ozo::result_t code, std::uint32_t skip, std::uint32_t times) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_operations.push_back({std::move(operation), code, skip, times});
  m_armed.store(true, std::memory_order_release);
}

void FaultInjector::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.store(0);
  m_failOrdinal = 0;
  m_operations.clear();
  m_journal.Clear();
  m_armed.store(false);
}

std::uint64_t FaultInjector::calls() const { return m_calls.load(); }

}  // namespace test
