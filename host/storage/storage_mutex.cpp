#include "host/storage/storage_mutex.h"

namespace host {
namespace {
// How many holds of any StorageMutex the calling thread has.
thread_local int t_held = 0;
}  // namespace

void StorageMutex::Record(Kind kind) {
  if (t_held > 0) m_nested.fetch_add(1, std::memory_order_relaxed);
  m_acquisitions.Add([kind] { return kind; });
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

void StorageMutex::ClearRecord() {
  m_acquisitions.Clear();
  m_nested.store(0);
}

}  // namespace host
