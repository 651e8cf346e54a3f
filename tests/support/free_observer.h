// Watches every block the process releases (free and realloc) for a byte
// pattern. Linked only into a test binary without sanitizers, which replace
// free themselves.
#pragma once

#include <cstddef>

namespace test {

// Starts counting released blocks that contain `pattern` (which must outlive
// the watch); Stop ends it and returns the count.
void StartWatchingFrees(const char* pattern, std::size_t length);
int StopWatchingFrees();

// Appends the bytes of every released block to `fd` from now on, for secrets
// only known once the process has ended (a key or password it made).
void StartDumpingFrees(int fd);

}  // namespace test
