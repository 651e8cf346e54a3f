#include "host/storage/sqlite_private_copy.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace host::sqlite {
namespace {

constexpr char kVfsName[] = "certificates-private";
constexpr char kPrefix[] = "/certificates-private/";

// The bytes of one private file. Whatever they held is wiped before their
// memory is given back: when they grow, shrink or go.
class MemoryFile {
 public:
  MemoryFile() = default;
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() { Wipe(0); }

  std::size_t size() const { return m_size; }
  const unsigned char* data() const { return m_bytes.data(); }
  bool deleted = false;  // SQLite deleted it (a journal rolled back)

  void Resize(std::size_t size) {
    if (size > m_bytes.size()) {
      std::vector<unsigned char> larger(std::max(size, m_bytes.size() * 2));
      std::copy(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_size), larger.begin());
      Wipe(0);
      m_bytes.swap(larger);
    } else if (size < m_size) {
      Wipe(size);
    }
    m_size = size;
  }
  void Write(const void* data, std::size_t size, std::size_t at) {
    if (at + size > m_size) Resize(at + size);
    std::memcpy(m_bytes.data() + at, data, size);
  }

 private:
  void Wipe(std::size_t from) {
    if (from < m_bytes.size()) ::explicit_bzero(m_bytes.data() + from, m_bytes.size() - from);
  }

  std::vector<unsigned char> m_bytes;
  std::size_t m_size = 0;
};

// The private files by name; an entry goes with its copy (or when SQLite
// deletes it).
struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<MemoryFile>> files;
};
Registry& Files() {
  static Registry* registry = new Registry;  // used until the process ends
  return *registry;
}

bool IsPrivate(const char* name) { return name && std::strncmp(name, kPrefix, sizeof(kPrefix) - 1) == 0; }

sqlite3_vfs* Base() {
  static sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
  return base;
}

// An open private file. Only one connection, the copy's, ever opens these
// names, and it calls them one at a time: locks have nothing to guard.
struct OpenFile {
  sqlite3_file base;
  std::shared_ptr<MemoryFile>* file;
};
MemoryFile& Of(sqlite3_file* file) { return **reinterpret_cast<OpenFile*>(file)->file; }

int Close(sqlite3_file* file) {
  delete reinterpret_cast<OpenFile*>(file)->file;
  return SQLITE_OK;
}
int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  const MemoryFile& bytes = Of(file);
  const auto at = static_cast<std::size_t>(offset), wanted = static_cast<std::size_t>(amount);
  const std::size_t available = at < bytes.size() ? std::min(wanted, bytes.size() - at) : 0;
  if (available) std::memcpy(out, bytes.data() + at, available);
  if (available == wanted) return SQLITE_OK;
  std::memset(static_cast<char*>(out) + available, 0, wanted - available);
  return SQLITE_IOERR_SHORT_READ;
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  Of(file).Write(data, static_cast<std::size_t>(amount), static_cast<std::size_t>(offset));
  return SQLITE_OK;
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (static_cast<std::size_t>(size) < Of(file).size()) Of(file).Resize(static_cast<std::size_t>(size));
  return SQLITE_OK;
}
int Sync(sqlite3_file*, int) { return SQLITE_OK; }
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  *size = static_cast<sqlite3_int64>(Of(file).size());
  return SQLITE_OK;
}
int Lock(sqlite3_file*, int) { return SQLITE_OK; }
int CheckReservedLock(sqlite3_file*, int* reserved) {
  *reserved = 0;
  return SQLITE_OK;
}
int FileControl(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }
int SectorSize(sqlite3_file*) { return 4096; }
int DeviceCharacteristics(sqlite3_file*) { return 0; }

const sqlite3_io_methods kMethods = {1,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Lock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  if (!IsPrivate(name)) return Base()->xOpen(Base(), name, file, flags, outFlags);
  file->pMethods = nullptr;
  std::lock_guard<std::mutex> lock(Files().mutex);
  std::shared_ptr<MemoryFile>& found = Files().files[name];
  if (!found || found->deleted) {
    if (!(flags & SQLITE_OPEN_CREATE)) {
      if (!found) Files().files.erase(name);
      return SQLITE_CANTOPEN;
    }
    if (!found) found = std::make_shared<MemoryFile>();
    found->deleted = false;
    found->Resize(0);
  }
  reinterpret_cast<OpenFile*>(file)->file = new std::shared_ptr<MemoryFile>(found);
  file->pMethods = &kMethods;
  if (outFlags) *outFlags = flags;
  return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
  if (!IsPrivate(name)) return Base()->xDelete(Base(), name, syncDir);
  std::lock_guard<std::mutex> lock(Files().mutex);
  const auto found = Files().files.find(name);
  if (found == Files().files.end() || found->second->deleted) return SQLITE_IOERR_DELETE_NOENT;
  found->second->deleted = true;
  found->second->Resize(0);
  return SQLITE_OK;
}

int Access(sqlite3_vfs*, const char* name, int flags, int* result) {
  if (!IsPrivate(name)) return Base()->xAccess(Base(), name, flags, result);
  std::lock_guard<std::mutex> lock(Files().mutex);
  const auto found = Files().files.find(name);
  *result = found != Files().files.end() && !found->second->deleted &&
            (flags != SQLITE_ACCESS_EXISTS || found->second->size() > 0);
  return SQLITE_OK;
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  if (!IsPrivate(name)) return Base()->xFullPathname(Base(), name, size, out);
  if (static_cast<int>(std::strlen(name)) >= size) return SQLITE_CANTOPEN;
  std::strcpy(out, name);
  return SQLITE_OK;
}

void* DlOpen(sqlite3_vfs*, const char* name) { return Base()->xDlOpen(Base(), name); }
void DlError(sqlite3_vfs*, int size, char* out) { Base()->xDlError(Base(), size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return Base()->xDlSym(Base(), handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { Base()->xDlClose(Base(), handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return Base()->xRandomness(Base(), size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return Base()->xSleep(Base(), microseconds); }
int CurrentTime(sqlite3_vfs*, double* now) { return Base()->xCurrentTime(Base(), now); }
int LastError(sqlite3_vfs*, int size, char* out) { return Base()->xGetLastError(Base(), size, out); }
int CurrentTime64(sqlite3_vfs*, sqlite3_int64* now) { return Base()->xCurrentTimeInt64(Base(), now); }

bool Registered() {
  static sqlite3_vfs vfs = {2,
                            std::max(Base()->szOsFile, static_cast<int>(sizeof(OpenFile))),
                            Base()->mxPathname,
                            nullptr,
                            kVfsName,
                            nullptr,
                            Open,
                            Delete,
                            Access,
                            FullPathname,
                            DlOpen,
                            DlError,
                            DlSym,
                            DlClose,
                            Randomness,
                            Sleep,
                            CurrentTime,
                            LastError,
                            CurrentTime64,
                            nullptr,
                            nullptr,
                            nullptr};
  static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
  return registered;
}

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
  bool operator!=(const Stamp& other) const { return !(*this == other); }
  bool operator==(const Stamp& other) const {
    return exists == other.exists && size == other.size && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

// Copies the file at `from` into `to`, replacing what it held; the
// buffer, which holds secrets, is wiped.
bool CopyInto(const std::string& from, MemoryFile& to) {
  const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (source < 0) return false;
  to.Resize(0);
  char buffer[65536];
  bool copied = true;
  for (ssize_t got; copied && (got = ::read(source, buffer, sizeof(buffer))) != 0;) {
    if (got > 0) to.Write(buffer, static_cast<std::size_t>(got), to.size());
    copied = got > 0 || errno == EINTR;
  }
  ::explicit_bzero(buffer, sizeof(buffer));
  ::close(source);
  return copied;
}

// A WAL-mode file read without its log is a rollback database: its header
// says so in the copy (file format versions 1, bytes 18 and 19).
bool IsWal(const MemoryFile& file) { return file.size() >= 100 && (file.data()[18] == 2 || file.data()[19] == 2); }
void MarkRollback(MemoryFile& file) {
  const unsigned char legacy[2] = {1, 1};
  file.Write(legacy, sizeof(legacy), 18);
}

}  // namespace

const char* PrivateCopy::Vfs() { return Registered() ? kVfsName : nullptr; }

std::unique_ptr<PrivateCopy> PrivateCopy::Make(const std::string& path, std::string& error) {
  static std::atomic<unsigned> counter{0};
  if (!Vfs()) {
    error = path + ": cannot make a private copy to read it: no VFS for it";
    return nullptr;
  }
  std::unique_ptr<PrivateCopy> copy(new PrivateCopy(kPrefix + std::to_string(++counter) + "/store.db"));
  const auto database = std::make_shared<MemoryFile>(), journal = std::make_shared<MemoryFile>();
  const std::string journalPath = path + "-journal";
  const Stamp log = Stamp::Of(path + "-wal");
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Stamp store = Stamp::Of(path), hot = Stamp::Of(journalPath);
    if (!CopyInto(path, *database) || (hot.exists && !CopyInto(journalPath, *journal))) {
      error = path + ": cannot make a private copy to read it: " + std::strerror(errno);
      return nullptr;
    }
    if (Stamp::Of(path) != store || Stamp::Of(journalPath) != hot) continue;
    if (IsWal(*database)) {
      if (log.exists && log.size > 0) {
        error = path + " holds changes in its write-ahead log " + path +
                "-wal, which a reader cannot apply without writing beside it";
        return nullptr;
      }
      MarkRollback(*database);
    }
    journal->deleted = !hot.exists;
    std::lock_guard<std::mutex> lock(Files().mutex);
    Files().files[copy->m_file] = database;
    Files().files[copy->m_file + "-journal"] = journal;
    return copy;
  }
  error = path + ": the store kept changing while it was copied to be read";
  return nullptr;
}

std::unique_ptr<PrivateCopy> PrivateCopy::FromBytes(const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  if (!Vfs()) return nullptr;
  std::unique_ptr<PrivateCopy> copy(new PrivateCopy(kPrefix + std::string("image-") + std::to_string(++counter)));
  const auto database = std::make_shared<MemoryFile>();
  database->Write(bytes.data(), bytes.size(), 0);
  std::lock_guard<std::mutex> lock(Files().mutex);
  Files().files[copy->m_file] = database;
  return copy;
}

PrivateCopy::~PrivateCopy() {
  std::lock_guard<std::mutex> lock(Files().mutex);
  Files().files.erase(m_file);
  Files().files.erase(m_file + "-journal");
}

}  // namespace host::sqlite
