#include "host/crypto_memory.h"

#include <malloc.h>
#include <openssl/crypto.h>
#include <string.h>

#include <cstdlib>
#include <cstring>

namespace host {
namespace {

void* Allocate(std::size_t size, const char*, int) { return std::malloc(size); }

void Release(void* block, const char*, int) {
  if (!block) return;
  ::explicit_bzero(block, malloc_usable_size(block));
  std::free(block);
}

// Never left for realloc to move: the old block is wiped once copied.
void* Resize(void* block, std::size_t size, const char* file, int line) {
  if (!block) return Allocate(size, file, line);
  if (size == 0) {
    Release(block, file, line);
    return nullptr;
  }
  const std::size_t held = malloc_usable_size(block);
  if (size <= held) return block;
  void* larger = std::malloc(size);
  if (!larger) return nullptr;
  std::memcpy(larger, block, held);
  Release(block, file, line);
  return larger;
}

}  // namespace

bool WipeReleasedCryptoMemory() {
  static const bool installed = CRYPTO_set_mem_functions(Allocate, Resize, Release) == 1;
  return installed;
}

}  // namespace host
