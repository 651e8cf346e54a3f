// Whole-store copies through SQLite's online backup: a backup reads the store
// as one consistent snapshot while other processes may write it; a restore
// replaces the store in one transaction of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_store.h"

namespace host {
namespace {

using ozo::result_t;
namespace results = ozo::results;

// Copies every page of `from` into `to` in one step, retrying while either
// side is busy (within the busy timeout of `to`'s connection).
int CopyPages(sqlite3* from, sqlite3* to) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) return sqlite3_errcode(to);
  int step;
  for (int attempt = 0; attempt < 500; ++attempt) {
    step = sqlite3_backup_step(backup, -1);
    if (step != SQLITE_BUSY && step != SQLITE_LOCKED) break;
    sqlite3_sleep(10);
  }
  const int finished = sqlite3_backup_finish(backup);
  return step == SQLITE_DONE ? finished : step;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// fsync of a file or folder by path; false when it cannot be done.
bool Synced(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

result_t SqliteStore::BackupTo(const std::string& path, std::string& error) {
  if (SameFile(path, m_path)) {
    error = path + " is the store itself";
    return results::InvalidArgument;
  }
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    error = path + " is not a regular file";  // a device or a pipe is never replaced
    return results::InvalidArgument;
  }
  std::error_code unresolved;
  std::filesystem::path target = std::filesystem::weakly_canonical(path, unresolved);  // a link's file, as cp
  if (unresolved) target = path;
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  std::string temporary = folder + "/." + target.filename().string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());  // mode 0600
  if (fd < 0) {
    error = "cannot write in " + folder + ": " + std::strerror(errno);
    return errno == EACCES ? results::AccessDenied : results::MediaError;
  }
  ::close(fd);
  sqlite3* copy = nullptr;
  int code = sqlite3_open_v2(temporary.c_str(), &copy, SQLITE_OPEN_READWRITE, nullptr);
  if (code == SQLITE_OK) {
    sqlite3_busy_timeout(copy, 5000);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    code = CopyPages(m_db, copy);
  }
  if (code != SQLITE_OK) error = std::string("cannot copy the store: ") + (copy ? sqlite3_errmsg(copy) : "");
  sqlite3_close_v2(copy);
  if (code == SQLITE_OK && (!Synced(temporary, O_RDONLY) || ::rename(temporary.c_str(), target.c_str()) != 0)) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    code = SQLITE_IOERR;
  }
  if (code != SQLITE_OK) {
    ::unlink(temporary.c_str());
    return ResultOf(code);
  }
  Synced(folder, O_RDONLY | O_DIRECTORY);  // the rename itself; the copy is complete either way
  return results::NoError;
}

result_t SqliteStore::RestoreFrom(const std::string& path, std::string& error) {
  if (SameFile(path, m_path)) {
    error = path + " is the store itself";
    return results::InvalidArgument;
  }
  ozo::ref_ptr<SqliteStore> source;
  if (const result_t opened = Open(path, Mode::ReadOnly, source, error); ozo::Failed(opened)) return opened;
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_inWork) {
    error = "a restore cannot run inside a unit of work";
    return results::InvalidState;
  }
  int code = CopyPages(source->db(), m_db);
  if (code == SQLITE_OK) code = sqlite::MakeCurrent(m_db);
  if (code == SQLITE_OK) return results::NoError;
  error = "cannot restore " + path + ": " + sqlite3_errstr(code);
  return Fail(code);
}

}  // namespace host
