// The files certctl reads and writes for a command: certificate files and
// containers in, files asked for with --out.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "host/storage/sqlite_connection.h"
#include "ozo/types/blob.h"

namespace certctl {

// The largest certificate or container file certctl reads (the largest
// value a store keeps): real ones are a few KiB at most, and a bound keeps a
// wrong path (/dev/zero, a disk image) from being read whole.
constexpr std::size_t kMaxCertificateFileBytes = host::sqlite::kMaxValueBytes;

// The whole file ("-": standard input), read in blocks; throws Failure
// (usage) when it cannot be read or holds more than kMaxCertificateFileBytes
// (refused before it is read whole).
ozo::blob_t ReadFileBytes(const std::string& path);

// Writes `size` bytes to `path` as every output is written (see
// host::WriteOutputFile): created with `mode`, whole or not at all, a link
// replaced, another user's file or link, a pipe or a folder refused.
// Throws Failure (kExitUsage) naming the file and the reason.
void WriteWholeFile(const std::string& path, const void* data, std::size_t size, mode_t mode);

// "1 MiB", "4 KiB", "100 bytes"
std::string SizeText(std::size_t bytes);

// Reads up to `limit` + 1 bytes (or to the end) of `fd`, block by block,
// handing each to `append`, which returns whether to go on; the block, which
// may hold a secret, is wiped. The count read, or -1 on a read error (errno
// set).
template <class Append>
long ReadBounded(int fd, std::size_t limit, Append append) {
  char block[8192];
  std::size_t total = 0;
  long result = 0;
  for (;;) {
    const ssize_t got = ::read(fd, block, std::min(sizeof(block), limit + 1 - total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result = -1;
      break;
    }
    const bool more = append(block, static_cast<std::size_t>(got));
    total += static_cast<std::size_t>(got);
    result = static_cast<long>(total);
    if (got == 0 || !more || total > limit) break;
  }
  ::explicit_bzero(block, sizeof(block));
  return result;
}

}  // namespace certctl
