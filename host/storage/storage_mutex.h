// The host's reader/writer storage mutex.
#pragma once

#include <shared_mutex>

#include "host/host_object.h"
#include "ivo/storage_mutex.h"

namespace host {

// A std::shared_mutex behind the component's storage-mutex interface.
class StorageMutex : public HostObject<ivo::IStorageMutex> {
 public:
  void lock() override { m_mutex.lock(); }
  void unlock() override { m_mutex.unlock(); }
  void lock_shared() override { m_mutex.lock_shared(); }
  bool try_lock_shared() override { return m_mutex.try_lock_shared(); }
  void unlock_shared() override { m_mutex.unlock_shared(); }

 protected:
  ~StorageMutex() override = default;

 private:
  std::shared_mutex m_mutex;
};

}  // namespace host
