// The host's allocator: the process heap.
#pragma once

#include "host/host_object.h"
#include "ozo/allocator.h"

namespace host {

class Allocator : public HostObject<ozo::IAllocator> {
 public:
  void* Allocate(std::size_t size) override;
  void* Reallocate(void* pointer, std::size_t size) override;
  void Free(void* pointer) override;

 protected:
  ~Allocator() override = default;
};

}  // namespace host
