#include "host/storage/storage_mutex.h"

namespace host {
namespace {
// How many holds of any StorageMutex the calling thread has.
thread_local int t_held = 0;
}  // namespace

void StorageMutex::Record(Kind kind) {
  std::lock_guard<std::mutex> lock(m_recordMutex);
  if (t_held > 0) ++m_nested;
  if (m_recording) m_acquisitions.push_back(kind);
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

std::uint64_t StorageMutex::nestedAcquisitions() const {
  std::lock_guard<std::mutex> lock(m_recordMutex);
  return m_nested;
}

void StorageMutex::SetRecording(bool on) {
  std::lock_guard<std::mutex> lock(m_recordMutex);
  m_recording = on;
}

void StorageMutex::ClearRecord() {
  std::lock_guard<std::mutex> lock(m_recordMutex);
  m_acquisitions.clear();
  m_nested = 0;
}

}  // namespace host
