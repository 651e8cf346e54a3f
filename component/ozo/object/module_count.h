// The module's count of live objects, which decides whether it may unload.
#pragma once

#include <atomic>
#include <cstdint>

namespace ozo::detail {

// One unit per live object of any of the module's classes, held from just
// before its constructor runs until its memory is released.
std::atomic<std::uint32_t>& ModuleObjectCount() noexcept;

// Holds one unit of the count for its lifetime (ObjectModuleAutoLockTyped).
class ObjectModuleAutoLock {
 public:
  ObjectModuleAutoLock() noexcept { ModuleObjectCount().fetch_add(1); }
  ~ObjectModuleAutoLock() { ModuleObjectCount().fetch_sub(1); }
  ObjectModuleAutoLock(const ObjectModuleAutoLock&) = delete;
  ObjectModuleAutoLock& operator=(const ObjectModuleAutoLock&) = delete;
};

}  // namespace ozo::detail
