// ivo::IStorageMutex: the host's reader/writer lock over its storage.
#pragma once

#include "ozo/object.h"

namespace ivo {

// Taken once per storage operation and never nested by the component.
struct IStorageMutex : ozo::IObject {
  static constexpr ozo::iid_t IID = 0x76E417FD;

  virtual void lock() = 0;
  virtual void unlock() = 0;
  virtual void lock_shared() = 0;
  virtual bool try_lock_shared() = 0;  // not used by the component
  virtual void unlock_shared() = 0;

 protected:
  ~IStorageMutex() = default;
};

}  // namespace ivo
