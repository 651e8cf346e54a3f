#include "tools/certctl/lib/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "host/net/descriptor.h"
#include "host/storage/file_trust.h"
#include "tools/certctl/lib/failure.h"

namespace certctl {

std::string SizeText(std::size_t bytes) {
  return bytes % 1024 == 0 ? bytes % (1024 * 1024) == 0 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                                        : std::to_string(bytes / 1024) + " KiB"
                           : std::to_string(bytes) + " bytes";
}

ozo::blob_t ReadFileBytes(const std::string& path) {
  const host::Descriptor file(path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw Failure(kExitUsage, "cannot read " + path + ": " + std::strerror(errno));
  struct stat about {};
  if (::fstat(file.get(), &about) == 0 && S_ISDIR(about.st_mode)) throw Failure(kExitUsage, path + " is a directory");
  const std::string tooBig =
      path + " is larger than " + SizeText(kMaxCertificateFileBytes) + ", more than any certificate file";
  if (S_ISREG(about.st_mode) && static_cast<std::size_t>(about.st_size) > kMaxCertificateFileBytes)
    throw Failure(kExitUsage, tooBig);
  ozo::blob_t bytes;
  const long total = ReadBounded(file.get(), kMaxCertificateFileBytes, [&bytes](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  });
  if (total < 0) throw Failure(kExitUsage, "cannot read " + path + ": " + std::strerror(errno));
  if (static_cast<std::size_t>(total) > kMaxCertificateFileBytes) throw Failure(kExitUsage, tooBig);
  return bytes;
}

namespace {

// Writes all of `size` bytes to `fd`; false on a failure (errno set).
bool WriteAll(int fd, const char* bytes, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t wrote = ::write(fd, bytes + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// A device or a pipe (/dev/null, /dev/stdout, a FIFO) is written in place:
// it cannot be replaced, and must never be replaced by a regular file.
void WriteInPlace(const std::string& path, const char* bytes, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  bool written = fd >= 0 && WriteAll(fd, bytes, size);
  const int error = errno;
  if (fd >= 0) written = ::close(fd) == 0 && written;
  if (!written) throw Failure(kExitUsage, "cannot write " + path + ": " + std::strerror(error));
}

}  // namespace

void WriteWholeFile(const std::string& path, const void* data, std::size_t size, mode_t mode) {
  if (std::string refusal; ozo::Failed(host::CheckOutputLink(path, refusal))) throw Failure(kExitUsage, refusal);
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) throw Failure(kExitUsage, "cannot write " + path + ": Is a directory");
    return WriteInPlace(path, static_cast<const char*>(data), size);
  }
  // The new file takes the name itself: a symbolic link there is replaced,
  // never the file it points at.
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());  // 0600 from the start
  if (fd < 0) throw Failure(kExitUsage, "cannot write " + path + ": " + std::strerror(errno));
  bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, static_cast<const char*>(data), size) && ::fsync(fd) == 0;
  const int failure = errno;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string reason = std::strerror(written ? errno : failure);
    ::unlink(temporary.c_str());
    throw Failure(kExitUsage, "cannot write " + path + ": " + reason);
  }
}

}  // namespace certctl
