#include "tests/support/free_observer.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

extern "C" void __libc_free(void* pointer);
extern "C" void* __libc_realloc(void* pointer, std::size_t size);

namespace {

std::atomic<const char*> g_pattern{nullptr};
std::atomic<std::size_t> g_length{0};
std::atomic<int> g_hits{0};
std::atomic<int> g_dump{-1};

void Inspect(void* pointer) noexcept {
  const char* pattern = g_pattern.load();
  const int dump = g_dump.load();
  if (!pointer || (!pattern && dump < 0)) return;
  const std::size_t size = malloc_usable_size(pointer);
  if (pattern && memmem(pointer, size, pattern, g_length.load())) g_hits.fetch_add(1);
  if (dump >= 0) (void)!::write(dump, pointer, size);
}

}  // namespace

// Every free of the process, libcrypto's and libstdc++'s included, comes here.
extern "C" void free(void* pointer) {
  Inspect(pointer);
  __libc_free(pointer);
}

extern "C" void* realloc(void* pointer, std::size_t size) {
  Inspect(pointer);
  return __libc_realloc(pointer, size);
}

namespace test {

void StartWatchingFrees(const char* pattern, std::size_t length) {
  g_hits = 0;
  g_length = length;
  g_pattern = pattern;
}

void StartDumpingFrees(int fd) { g_dump = fd; }

int StopWatchingFrees() {
  g_pattern = nullptr;
  return g_hits.load();
}

}  // namespace test
