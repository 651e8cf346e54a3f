// A private copy of a store, in memory, for a reader that must not write
// anything beside the store.
#pragma once

#include <memory>
#include <string>

namespace host::sqlite {

// SQLite rolls a transaction that a dead writer left behind back from its
// journal the next time a connection that may write opens the store; until
// then a read-only connection cannot read the store at all. A WAL-mode file
// makes every reader create -wal and -shm files beside it. A reader that
// must not change the folder (or may not) reads a copy instead: the file and
// its journal copied into this process's memory, which SQLite opens through
// a VFS of this host's ("certificates-private") under names that exist only
// here. There the copy is rolled back, and a WAL-mode file without a log is
// read as the rollback database it then is. Nothing of the copy is ever on
// disk or named in a folder: it goes with this object (its bytes wiped), or
// with the process, however the process ends.
class PrivateCopy {
 public:
  // Copies `path` and its journal; null with `error` set when they cannot
  // be copied, when they kept changing while they were (a writer was
  // recovering the store meanwhile, and the store can be opened as it is
  // now), or when the file's write-ahead log holds changes (which only a
  // connection that writes beside the file can read).
  static std::unique_ptr<PrivateCopy> Make(const std::string& path, std::string& error);
  // A copy of a database given as its bytes (a backup read from a pipe).
  static std::unique_ptr<PrivateCopy> FromBytes(const std::string& bytes);
  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  // The copy's name and the VFS to open it with (read-write: a journal is
  // rolled back in the copy).
  const std::string& file() const { return m_file; }
  static const char* Vfs();

 private:
  explicit PrivateCopy(std::string file) : m_file(std::move(file)) {}

  std::string m_file;
};

}  // namespace host::sqlite
