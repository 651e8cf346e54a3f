#include "host/storage/sqlite_private_copy.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace host::sqlite {
namespace {

namespace fs = std::filesystem;

// What tells a file's content apart over a copy: size and change time.
struct Stamp {
  bool exists = false;
  off_t size = 0;
  timespec changed{};

  static Stamp Of(const std::string& path) {
    struct stat about {};
    Stamp stamp;
    if (::stat(path.c_str(), &about) != 0) return stamp;
    return {true, about.st_size, about.st_ctim};
  }
  bool operator==(const Stamp& other) const {
    return exists == other.exists && size == other.size && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

bool CopyPrivately(const std::string& from, const std::string& to, std::error_code& error) {
  fs::copy_file(from, to, error);
  if (!error) fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, error);
  return !error;
}

}  // namespace

std::unique_ptr<PrivateCopy> PrivateCopy::Make(const std::string& path, std::string& error) {
  std::error_code failure;
  std::string folder = (fs::temp_directory_path(failure) / "certificates-store-XXXXXX").string();
  if (failure || !::mkdtemp(folder.data())) {  // mode 0700
    error = path + ": cannot make a private copy to read it: " + (failure ? failure.message() : "mkdtemp failed");
    return nullptr;
  }
  std::unique_ptr<PrivateCopy> copy(new PrivateCopy(folder));
  const std::string journal = path + "-journal";
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Stamp store = Stamp::Of(path), hot = Stamp::Of(journal);
    fs::remove(copy->m_file + "-journal", failure);
    if (!CopyPrivately(path, copy->m_file, failure) ||
        (hot.exists && !CopyPrivately(journal, copy->m_file + "-journal", failure))) {
      error = path + ": cannot make a private copy to read it: " + failure.message();
      return nullptr;
    }
    if (Stamp::Of(path) == store && Stamp::Of(journal) == hot) return copy;
  }
  error = path + ": the store kept changing while it was copied to be read";
  return nullptr;
}

PrivateCopy::~PrivateCopy() {
  std::error_code ignored;
  fs::remove_all(m_folder, ignored);
}

}  // namespace host::sqlite
