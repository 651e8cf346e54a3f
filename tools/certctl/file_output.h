// How certctl writes the files it is asked for (--out).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace certctl {

// Writes `size` bytes to a temporary file in the folder of `path`, created
// with `mode` (owner-only before anything is written to it), flushes it to
// disk and renames it over `path`: a reader sees the old file or the whole
// new one, never half of one, and a secret is never readable by others even
// for a moment. Throws Failure (kExitUsage) naming the file and the reason.
void WriteWholeFile(const std::string& path, const void* data, std::size_t size, mode_t mode);

}  // namespace certctl
