// What a test host keeps of the calls it sees: nothing unless recording is
// on, so a long-running test (the soak test) keeps nothing per call.
// Thread-safe.
#pragma once

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace test {

template <class T>
class History {
 public:
  void SetRecording(bool on) noexcept { m_recording.store(on, std::memory_order_relaxed); }
  bool recording() const noexcept { return m_recording.load(std::memory_order_relaxed); }

  // Keeps `make()` while recording; `make` is not called otherwise.
  template <class Make>
  void Add(Make&& make) {
    if (!recording()) return;
    T item = make();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_items.push_back(std::move(item));
  }

  std::vector<T> items() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_items.clear();
  }

 private:
  std::atomic<bool> m_recording{false};
  mutable std::mutex m_mutex;
  std::vector<T> m_items;
};

}  // namespace test
