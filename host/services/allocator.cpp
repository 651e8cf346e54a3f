#include "host/services/allocator.h"

#include <cstdlib>

namespace host {

void* Allocator::Allocate(std::size_t size) { return std::malloc(size ? size : 1); }

void* Allocator::Reallocate(void* pointer, std::size_t size) { return std::realloc(pointer, size ? size : 1); }

void Allocator::Free(void* pointer) { std::free(pointer); }

}  // namespace host
