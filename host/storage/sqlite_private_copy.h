// A private copy of a store whose last writer died in the middle of a
// transaction, for a reader.
#pragma once

#include <memory>
#include <string>

namespace host::sqlite {

// SQLite rolls a transaction that a dead writer left behind back from its
// journal the next time a connection that may write opens the store; until
// then a read-only connection cannot read the store at all. A reader that
// must not change the file (or may not) reads a copy instead: the store and
// its journal copied into a folder of its own under the temporary folder
// (mode 0700, files 0600), where a writing connection rolls the copy back.
// The folder goes with this object.
class PrivateCopy {
 public:
  // Copies `path` and its journal; null with `error` set when they cannot
  // be copied, or kept changing while they were (a writer was recovering
  // the store meanwhile, and the store can be opened as it is now).
  static std::unique_ptr<PrivateCopy> Make(const std::string& path, std::string& error);
  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  // The copy of the store (its journal beside it).
  const std::string& file() const { return m_file; }

 private:
  explicit PrivateCopy(std::string folder) : m_folder(std::move(folder)), m_file(m_folder + "/store.db") {}

  std::string m_folder;
  std::string m_file;
};

}  // namespace host::sqlite
