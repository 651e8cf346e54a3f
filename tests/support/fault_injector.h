// Scheduled failures of host calls, shared by all services of one host.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ozo/result.h"
#include "tests/support/history.h"

namespace test {

// Every host operation that can fail calls Enter with its name ("IStorage::
// AppendNode", "IServiceLocator::GetInterface/6ef3329b", ...). Enter counts
// the call, keeps its name in the journal when recording and returns the code
// scheduled for it, or 0. A failure code makes the operation fail at once;
// storage nodes and the serializer answer a scheduled success code (> 0)
// after doing their work. Thread-safe; with nothing scheduled and recording
// off (the default), Enter takes no lock and keeps nothing.
class FaultInjector {
 public:
  ozo::result_t Enter(std::string_view operation) noexcept;

  // Fails the `ordinal`-th call (1-based, counted since the last Reset) with `code`.
  void FailCall(std::uint64_t ordinal, ozo::result_t code);
  // Fails calls whose name starts with `operation`: the first `skip` matches
  // pass, then `times` matches fail with `code`.
  void FailOperation(std::string operation, ozo::result_t code, std::uint32_t skip = 0,
                     std::uint32_t times = UINT32_MAX);
  // Forgets every schedule, the count and the journal.
  void Reset();
  // Whether Enter keeps the journal of call names (off by default: it grows
  // with every call).
  void SetRecording(bool on) { m_journal.SetRecording(on); }

  std::uint64_t calls() const;
  std::vector<std::string> journal() const { return m_journal.items(); }

 private:
  struct OperationFault {
    std::string prefix;
    ozo::result_t code;
    std::uint32_t skip;
    std::uint32_t times;
  };

  mutable std::mutex m_mutex;
  std::atomic<std::uint64_t> m_calls{0};
  std::atomic<bool> m_armed{false};  // a schedule is set
  std::uint64_t m_failOrdinal = 0;
  ozo::result_t m_failCode = 0;
  std::vector<OperationFault> m_operations;
  History<std::string> m_journal;
};

}  // namespace test
