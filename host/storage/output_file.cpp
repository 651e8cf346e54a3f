#include "host/storage/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host/net/descriptor.h"
#include "host/storage/file_trust.h"

namespace host {
namespace {

using ozo::result_t;
namespace results = ozo::results;

bool OwnedByUserOrRoot(const struct stat& about) { return about.st_uid == ::geteuid() || about.st_uid == 0; }

// ".NAME.XXXXXX": a temporary file of an output to NAME.
bool IsTemporaryOf(const std::string& entry, const std::string& name) {
  const std::string prefix = "." + name + ".";
  return entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0;
}

// Removes the temporary files that killed writers of `name` left in
// `folder`: this user's regular files that no live writer holds locked.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return;
  while (const dirent* entry = ::readdir(listing)) {
    if (!IsTemporaryOf(entry->d_name, name)) continue;
    const Descriptor file(::openat(::dirfd(listing), entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat about {};
    if (file.get() >= 0 && ::fstat(file.get(), &about) == 0 && S_ISREG(about.st_mode) && about.st_uid == ::geteuid() &&
        ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(::dirfd(listing), entry->d_name, 0);
  }
  ::closedir(listing);
}

// fsync of a folder by path; false when it cannot be done.
bool SyncFolder(const std::string& path) {
  const Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.get() >= 0 && ::fsync(folder.get()) == 0;
}

// What is at `path` and whether it may be written: replaced (`replace`) or
// written in place; refused with `error` set.
result_t Judge(const std::string& path, bool& replace, std::string& error) {
  const Descriptor there(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  replace = true;
  if (there.get() < 0 && errno == ENOENT) return results::NoError;
  struct stat about {};
  if (there.get() < 0 || ::fstat(there.get(), &about) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return errno == EACCES ? results::AccessDenied : results::MediaError;
  }
  const bool ours = OwnedByUserOrRoot(about);
  if ((S_ISREG(about.st_mode) || S_ISLNK(about.st_mode)) && ours) return results::NoError;
  if (S_ISCHR(about.st_mode) && about.st_uid == 0) {
    replace = false;
    return results::NoError;
  }
  error = S_ISLNK(about.st_mode) ? path + " is a symbolic link of " + UserText(about.st_uid) +
                                       ", which is never written through: remove it, or write elsewhere"
          : S_ISREG(about.st_mode) ? path + " belongs to " + UserText(about.st_uid) +
                                         ", and is never replaced by another user: remove it, or write elsewhere"
          : S_ISDIR(about.st_mode) ? "cannot write " + path + ": Is a directory"
          : S_ISFIFO(about.st_mode)
              ? path +
                    " is a pipe, which is never written: anyone may read it, or nobody (- writes to standard "
                    "output)"
              : path + " is not a regular file, and is never written (- writes to standard output)";
  return results::AccessDenied;
}

// Writes into the character device at `path` in place, after making sure
// the descriptor opened is still root's device.
result_t WriteInPlace(const std::string& path, const std::function<bool(int, std::string&)>& write,
                      std::string& error) {
  const Descriptor device(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat about {};
  if (device.get() < 0 || ::fstat(device.get(), &about) != 0 || !S_ISCHR(about.st_mode) || about.st_uid != 0) {
    error = "cannot write " + path + ": " + (device.get() < 0 ? std::strerror(errno) : "it changed meanwhile");
    return results::AccessDenied;
  }
  return write(device.get(), error) ? results::NoError : results::MediaError;
}

}  // namespace

result_t WriteOutputFile(const std::string& path, mode_t mode, const std::function<bool(int, std::string&)>& write,
                         std::string& error) {
  bool replace = true;
  if (const result_t judged = Judge(path, replace, error); ozo::Failed(judged)) return judged;
  if (!replace) return WriteInPlace(path, write, error);
  const std::filesystem::path target(path);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  RemoveLeftovers(folder, target.filename().string());
  std::string temporary = folder + "/." + target.filename().string() + ".XXXXXX";
  const Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));  // mode 0600
  if (file.get() < 0) {
    error = "cannot write in " + folder + ": " + std::strerror(errno);
    return errno == EACCES ? results::AccessDenied : results::MediaError;
  }
  ::flock(file.get(), LOCK_EX);  // held until the file is complete: no other writer takes it for a leftover
  int failure = 0;
  if (::fchmod(file.get(), mode) != 0) {
    failure = errno;
    error = "cannot write " + path + ": " + std::strerror(failure);
  } else if (!write(file.get(), error)) {
    failure = errno ? errno : EIO;
  } else if (::fsync(file.get()) != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
    failure = errno;
    error = "cannot write " + path + ": " + std::strerror(failure);
  }
  if (failure != 0) {
    ::unlink(temporary.c_str());
    return failure == ENOSPC ? results::OutOfSpace : results::MediaError;
  }
  SyncFolder(folder);  // the rename itself; the file is complete either way
  return results::NoError;
}

}  // namespace host
