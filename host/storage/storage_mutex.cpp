#include "host/storage/storage_mutex.h"

namespace host {
namespace {
// How many holds of any StorageMutex the calling thread has.
thread_local int t_held = 0;
}  // namespace

void StorageMutex::Record(Kind kind) {
  if (t_held > 0) m_nested.fetch_add(1, std::memory_order_relaxed);
  if (!m_recording.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> lock(m_recordMutex);
  m_acquisitions.push_back(kind);
}

void StorageMutex::lock() {
  Record(Kind::Exclusive);
  m_mutex.lock();
  ++t_held;
}

void StorageMutex::unlock() {
  --t_held;
  m_mutex.unlock();
}

void StorageMutex::lock_shared() {
  Record(Kind::Shared);
  m_mutex.lock_shared();
  ++t_held;
}

bool StorageMutex::try_lock_shared() {
  if (!m_mutex.try_lock_shared()) return false;
  Record(Kind::Shared);
  ++t_held;
  return true;
}

void StorageMutex::unlock_shared() {
  --t_held;
  m_mutex.unlock_shared();
}

std::vector<StorageMutex::Kind> StorageMutex::acquisitions() const {
  std::lock_guard<std::mutex> lock(m_recordMutex);
  return m_acquisitions;
}

std::uint64_t StorageMutex::nestedAcquisitions() const { return m_nested.load(); }

void StorageMutex::SetRecording(bool on) { m_recording.store(on); }

void StorageMutex::ClearRecord() {
  std::lock_guard<std::mutex> lock(m_recordMutex);
  m_acquisitions.clear();
  m_nested.store(0);
}

}  // namespace host
