#include "host/storage/sqlite_memory.h"

#include <sqlite3.h>
#include <string.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace host::sqlite {
namespace {

// Each block carries its size in front of it, as SQLite's own allocator does.
constexpr std::size_t kHeader = 16;  // keeps the block's alignment

void* Allocate(int size) {
  if (size <= 0) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kHeader + static_cast<std::size_t>(size)));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof(size));
  return block + kHeader;
}

int SizeOf(void* memory) {
  if (!memory) return 0;
  int size = 0;
  std::memcpy(&size, static_cast<unsigned char*>(memory) - kHeader, sizeof(size));
  return size;
}

void Release(void* memory) {
  if (!memory) return;
  auto* block = static_cast<unsigned char*>(memory) - kHeader;
  ::explicit_bzero(block, kHeader + static_cast<std::size_t>(SizeOf(memory)));
  std::free(block);
}

void* Resize(void* memory, int size) {
  void* larger = Allocate(size);
  if (!larger || !memory) return larger;
  const int kept = SizeOf(memory);
  std::memcpy(larger, memory, static_cast<std::size_t>(kept < size ? kept : size));
  Release(memory);
  return larger;
}

int Roundup(int size) { return (size + 7) & ~7; }
int Init(void*) { return SQLITE_OK; }
void Shutdown(void*) {}

}  // namespace

bool WipeReleasedMemory() {
  static const sqlite3_mem_methods kMethods = {Allocate, Release, Resize, SizeOf, Roundup, Init, Shutdown, nullptr};
  static const bool configured = sqlite3_config(SQLITE_CONFIG_MALLOC, &kMethods) == SQLITE_OK;
  return configured;
}

}  // namespace host::sqlite
