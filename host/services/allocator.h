// The host's allocator: the process heap, with accounting and an observer of
// released memory.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "host/fault_injector.h"
#include "host/host_object.h"
#include "ozo/allocator.h"

namespace host {

class Allocator : public HostObject<ozo::IAllocator> {
 public:
  // Sees each block's bytes just before they are released.
  using FreeObserver = std::function<void(const void* block, std::size_t size)>;

  explicit Allocator(std::shared_ptr<FaultInjector> faults) : m_faults(std::move(faults)) {}

  void* Allocate(std::size_t size) override;
  void* Reallocate(void* pointer, std::size_t size) override;
  void Free(void* pointer) override;

  void SetFreeObserver(FreeObserver observer);
  // Blocks handed out and not yet freed.
  std::size_t liveBlocks() const;

 protected:
  ~Allocator() override = default;

 private:
  std::shared_ptr<FaultInjector> m_faults;
  mutable std::mutex m_mutex;
  std::map<void*, std::size_t> m_blocks;
  FreeObserver m_observer;
};

}  // namespace host
