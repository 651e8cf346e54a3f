// Preloaded into certctl by the secrets tests: every block the process
// releases is scanned for the bytes of $CM_WATCH_FREES (free_observer.cpp),
// and the count of those that held them is written to $CM_WATCH_REPORT when
// the process has ended everything else (this library is finalised last).
// With $CM_DUMP_FREES every released block is appended to that file instead,
// for a secret the process makes itself.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/free_observer.h"

namespace {

const char* g_report = nullptr;

__attribute__((constructor)) void StartWatching() {
  const char* pattern = std::getenv("CM_WATCH_FREES");
  g_report = std::getenv("CM_WATCH_REPORT");
  if (pattern && *pattern && g_report) test::StartWatchingFrees(pattern, std::strlen(pattern));
  if (const char* dump = std::getenv("CM_DUMP_FREES"))
    test::StartDumpingFrees(::open(dump, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
}

__attribute__((destructor)) void Report() {
  if (!g_report) return;
  char count[32];
  const int length = std::snprintf(count, sizeof(count), "%d\n", test::StopWatchingFrees());
  const int fd = ::open(g_report, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  (void)!::write(fd, count, static_cast<std::size_t>(length));
  ::close(fd);
}

}  // namespace
