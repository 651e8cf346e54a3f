// ozo::IAllocator: the host's memory service.
#pragma once

#include <cstddef>

#include "ozo/object.h"

namespace ozo {

struct IAllocator : IObject {
  static constexpr iid_t IID = 0x9CCA5603;

  // Returns `size` bytes, or null when the memory cannot be had.
  virtual void* Allocate(std::size_t size) = 0;
  // Resizes a block from Allocate (null acts as Allocate); null on failure,
  // the old block then stays valid.
  virtual void* Reallocate(void* pointer, std::size_t size) = 0;
  // Returns a block from Allocate or Reallocate; null is ignored.
  virtual void Free(void* pointer) = 0;

 protected:
  ~IAllocator() = default;
};

}  // namespace ozo
