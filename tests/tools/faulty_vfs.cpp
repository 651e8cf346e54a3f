// A SQLite VFS that fails one I/O call of a process, preloaded into certctl by
// the I/O-fault tests (LD_PRELOAD). It wraps the default VFS and makes itself
// the default when the library loads; only its files are wrapped.
//
// Counted calls, on every file SQLite opens: xWrite, xSync, xTruncate,
// xFileSize, xLock and xShmLock. With CM_FAULT_AT=N the Nth counted call fails
// (a write with SQLITE_FULL, the others with their SQLITE_IOERR_* code) and
// does nothing. At exit, CM_FAULT_REPORT (a file) receives
// "<counted calls> <1 when the fault was injected, else 0>".
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

sqlite3_vfs* g_base = nullptr;
unsigned long g_calls = 0;
unsigned long g_failAt = 0;
bool g_fired = false;

// True when this call is the one to fail.
bool Strike() {
  ++g_calls;
  if (g_failAt == 0 || g_calls != g_failAt) return false;
  g_fired = true;
  return true;
}

// A file of the wrapping VFS: its methods, then the base VFS's file.
struct FaultyFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<FaultyFile*>(file)->real; }

int Close(sqlite3_file* file) {
  sqlite3_file* real = Real(file);
  const int code = real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
  sqlite3_free(real);
  return code;
}
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  return Strike() ? SQLITE_FULL : Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  return Strike() ? SQLITE_IOERR_TRUNCATE : Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
  return Strike() ? SQLITE_IOERR_FSYNC : Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Strike() ? SQLITE_IOERR_FSTAT : Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) { return Strike() ? SQLITE_IOERR_LOCK : Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); }
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Strike() ? SQLITE_IOERR_SHMLOCK : Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag); }
int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
  return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
  return Real(f)->pMethods->xUnfetch(Real(f), offset, page);
}

const sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  auto* wrapper = reinterpret_cast<FaultyFile*>(file);
  wrapper->base.pMethods = nullptr;
  wrapper->real = static_cast<sqlite3_file*>(sqlite3_malloc(g_base->szOsFile));
  if (!wrapper->real) return SQLITE_NOMEM;
  std::memset(wrapper->real, 0, static_cast<std::size_t>(g_base->szOsFile));
  const int code = g_base->xOpen(g_base, name, wrapper->real, flags, outFlags);
  if (code != SQLITE_OK) {
    sqlite3_free(wrapper->real);
    return code;
  }
  wrapper->base.pMethods = &kMethods;
  return SQLITE_OK;
}
sqlite3_vfs g_faulty = {};

void Report() {
  const char* path = std::getenv("CM_FAULT_REPORT");
  if (!path) return;
  if (std::FILE* file = std::fopen(path, "w")) {
    std::fprintf(file, "%lu %d\n", g_calls, g_fired ? 1 : 0);
    std::fclose(file);
  }
}

__attribute__((constructor)) void Install() {
  g_base = sqlite3_vfs_find(nullptr);
  if (!g_base) return;
  if (const char* at = std::getenv("CM_FAULT_AT")) g_failAt = std::strtoul(at, nullptr, 10);
  g_faulty = *g_base;
  g_faulty.iVersion = 2;
  g_faulty.szOsFile = static_cast<int>(sizeof(FaultyFile));
  g_faulty.zName = "faulty";
  g_faulty.xOpen = Open;  // the rest is the base VFS's own, its data included
  sqlite3_vfs_register(&g_faulty, 1);
  std::atexit(Report);
}

}  // namespace
