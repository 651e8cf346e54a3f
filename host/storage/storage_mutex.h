// The host's reader/writer storage mutex, recording how it is taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "host/history.h"
#include "host/host_object.h"
#include "ivo/storage_mutex.h"

namespace host {

// A std::shared_mutex that counts its acquisitions by kind and detects a
// thread taking it while it already holds it (which would deadlock or
// violate the one-lock-per-operation rule; such an attempt is counted and
// then proceeds to block as a real mutex would).
class StorageMutex : public HostObject<ivo::IStorageMutex> {
 public:
  enum class Kind { Exclusive, Shared };

  void lock() override;
  void unlock() override;
  void lock_shared() override;
  bool try_lock_shared() override;
  void unlock_shared() override;

  // Acquisitions in order, while recording (off by default). Nested
  // acquisitions are counted always.
  std::vector<Kind> acquisitions() const { return m_acquisitions.items(); }
  std::uint64_t nestedAcquisitions() const { return m_nested.load(); }
  void SetRecording(bool on) { m_acquisitions.SetRecording(on); }
  void ClearRecord();

 protected:
  ~StorageMutex() override = default;

 private:
  void Record(Kind kind);

  std::shared_mutex m_mutex;
  History<Kind> m_acquisitions;
  std::atomic<std::uint64_t> m_nested{0};
};

}  // namespace host
