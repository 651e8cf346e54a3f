#include "tools/certctl/lib/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "host/net/descriptor.h"
#include "host/storage/output_file.h"
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

void WriteWholeFile(const std::string& path, const void* data, std::size_t size, mode_t mode) {
  std::string error;
  const auto write = [&](int fd, std::string& failure) {
    for (std::size_t done = 0; done < size;) {
      const ssize_t wrote = ::write(fd, static_cast<const char*>(data) + done, size - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        failure = "cannot write " + path + ": " + std::strerror(errno);
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    return true;
  };
  if (ozo::Failed(host::WriteOutputFile(path, mode, write, error))) throw Failure(kExitUsage, error);
}

}  // namespace certctl
