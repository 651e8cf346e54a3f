#include "host/services/allocator.h"

#include <cstdlib>
#include <cstring>

namespace host {

void* Allocator::Allocate(std::size_t size) {
  if (ozo::Failed(m_faults->Enter("IAllocator::Allocate"))) return nullptr;
  void* block = std::malloc(size ? size : 1);
  if (!block) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_blocks[block] = size;
  return block;
}

void* Allocator::Reallocate(void* pointer, std::size_t size) {
  if (!pointer) return Allocate(size);
  if (ozo::Failed(m_faults->Enter("IAllocator::Reallocate"))) return nullptr;
  void* block = std::malloc(size ? size : 1);
  if (!block) return nullptr;
  std::size_t old = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    old = m_blocks[pointer];
    m_blocks[block] = size;
  }
  std::memcpy(block, pointer, old < size ? old : size);
  Free(pointer);
  return block;
}

void Allocator::Free(void* pointer) {
  if (!pointer) return;
  FreeObserver observer;
  std::size_t size = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto block = m_blocks.find(pointer);
    if (block != m_blocks.end()) {
      size = block->second;
      m_blocks.erase(block);
    }
    observer = m_observer;
  }
  if (observer) observer(pointer, size);
  std::free(pointer);
}

void Allocator::SetFreeObserver(FreeObserver observer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_observer = std::move(observer);
}

std::size_t Allocator::liveBlocks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_blocks.size();
}

}  // namespace host
