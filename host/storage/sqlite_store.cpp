#include "host/storage/sqlite_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/storage/file_trust.h"
#include "host/storage/sqlite_connection.h"
#include "host/storage/sqlite_memory.h"
#include "host/storage/sqlite_node.h"
#include "host/storage/sqlite_private_copy.h"
#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_statement.h"

namespace host {
namespace {

using ozo::result_t;
using sqlite::Statement;
namespace results = ozo::results;

// Makes the database file when there is none: owner-only from the moment it
// exists (whatever the umask), never in a folder that is missing. SQLite
// gives the journal it keeps beside the file the file's own mode.
result_t CreateOwnerOnly(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == EEXIST) return results::NoError;  // made by another process meanwhile
  if (fd < 0) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const std::string named = folder.empty() ? std::string(".") : folder;
    error = errno == ENOENT
                ? "no folder " + named + " for the store " + path + " (mkdir -p -m 700 " + named + " makes one)"
                : path + ": " + std::strerror(errno);
    return errno == EACCES ? results::AccessDenied : results::MediaError;
  }
  const bool owned = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  if (owned) return results::NoError;
  error = path + ": cannot make it owner-only: " + std::strerror(errno);
  ::unlink(path.c_str());
  return results::AccessDenied;
}

// Why `identity` is refused for `mode`, or NoError.
result_t Refusal(sqlite::Identity identity, int version, const std::string& difference, SqliteStore::Mode mode,
                 const std::string& path, std::string& error) {
  switch (identity) {
    case sqlite::Identity::Foreign:
      error = path + " is not a certificates store (another application's database)";
      return results::BasesCorrupted;
    case sqlite::Identity::Altered:
      error = path + " is marked as a certificates store, but its schema is not a store's (" + difference +
              "): it is not used";
      return results::BasesCorrupted;
    case sqlite::Identity::Newer:
      error = path + " is a store of schema version " + std::to_string(version) + "; this version reads up to " +
              std::to_string(sqlite::kSchemaVersion);
      return results::NotSupported;
    case sqlite::Identity::Blank:
      if (mode == SqliteStore::Mode::ReadWrite) return results::NoError;
      error = "no store at " + path + " (the file holds none yet)";
      return results::NotFound;
    default:
      return results::NoError;
  }
}

// What a database is, told without a connection that could change it or
// anything beside it: its header, and for a database without marks its
// schema, read from the file as it is (immutable) or, when a journal or log
// lies beside it, from a private copy.
result_t Classify(const std::string& path, const std::string& name, SqliteStore::Mode mode, sqlite::Header& header,
                  std::string& error) {
  if (const result_t read = sqlite::ReadHeader(path, header, error); ozo::Failed(read)) return read;
  if (header.kind == sqlite::Header::Kind::NotADatabase) {
    error = name + ": file is not a database";
    return results::BasesCorrupted;
  }
  if (header.kind == sqlite::Header::Kind::Empty) return Refusal(sqlite::Identity::Blank, 0, "", mode, name, error);
  if (header.applicationId == sqlite::kApplicationId && header.userVersion > sqlite::kSchemaVersion)
    return Refusal(sqlite::Identity::Newer, header.userVersion, "", mode, name, error);
  if (header.applicationId != 0 && header.applicationId != sqlite::kApplicationId)
    return Refusal(sqlite::Identity::Foreign, 0, "", mode, name, error);
  if (header.applicationId != 0) return results::NoError;
  bool sideFiles = false;
  for (const char* suffix : kSideFileSuffixes) sideFiles |= ::access((path + suffix).c_str(), F_OK) == 0;
  std::unique_ptr<sqlite::PrivateCopy> copy;
  if (sideFiles && !(copy = sqlite::PrivateCopy::Make(path, error))) return results::MediaError;
  sqlite::Connection db;
  const int code = copy ? sqlite::Connect(copy->file(), SQLITE_OPEN_READWRITE, sqlite::PrivateCopy::Vfs(), db, error)
                        : sqlite::Connect(sqlite::FileUri(path, "immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                          nullptr, db, error);
  sqlite::Identity identity = sqlite::Identity::Foreign;
  int version = 0;
  std::string difference;
  if (code != SQLITE_OK || sqlite::Identify(db.get(), identity, version, difference) != SQLITE_OK) {
    error = name + ": " + (db ? sqlite3_errmsg(db.get()) : error);
    return SqliteStore::ResultOf(db ? sqlite3_errcode(db.get()) : code);
  }
  return Refusal(identity, version, difference, mode, name, error);
}

// Refuses what is not a store this host can use; a writer makes a blank or
// older store current. Nothing is written to a database that is refused. A
// file given as data is checked whole before anything of it is used.
result_t Accept(sqlite3* db, const std::string& path, SqliteStore::Mode mode, std::string& error) {
  sqlite::Identity identity = sqlite::Identity::Foreign;
  int version = 0;
  std::string difference;
  int code = sqlite::Identify(db, identity, version, difference);
  if (code == SQLITE_OK)
    if (const result_t refused = Refusal(identity, version, difference, mode, path, error); ozo::Failed(refused))
      return refused;
  if (code == SQLITE_OK && mode == SqliteStore::Mode::ReadWrite) {
    if (sqlite3_db_readonly(db, "main") == 1) {
      error = path + ": the store is read-only for this user";
      return results::AccessDenied;
    }
    code = sqlite3_exec(db, sqlite::kWriterSettings, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK && identity != sqlite::Identity::Current) code = sqlite::MakeCurrent(db);
    if (code == SQLITE_MISMATCH) {
      error = path + " is not a certificates store";
      return results::BasesCorrupted;
    }
  }
  if (code == SQLITE_OK && mode == SqliteStore::Mode::Import) {
    Statement check(db, "PRAGMA integrity_check(1)");
    code = check.Step();
    if (code == SQLITE_ROW && check.Text(0) != "ok") {
      error = path + " is damaged: " + check.Text(0);
      return results::BasesCorrupted;
    }
    code = code == SQLITE_ROW ? SQLITE_OK : code;
  }
  if (code == SQLITE_OK) code = sqlite3_exec(db, sqlite::kConnectionSettings, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) return results::NoError;
  error = path + ": " + sqlite3_errmsg(db);
  return SqliteStore::ResultOf(code);
}

// A store that decides trust must be this user's (or root's), in folders no
// one else can write, with no journal or log beside it that someone else
// made; a file given as data is judged by what it holds instead.
result_t Trust(const std::string& path, SqliteStore::Mode mode, std::string& error) {
  struct stat about {};
  const bool exists = ::lstat(path.c_str(), &about) == 0;
  if (!exists && errno == EACCES) {
    error = path + ": permission denied: this user may not look into its folder";
    return results::AccessDenied;
  }
  if (exists && S_ISREG(about.st_mode) && ::access(path.c_str(), R_OK) != 0 && errno == EACCES) {
    char modeText[8];
    std::snprintf(modeText, sizeof(modeText), "%04o", static_cast<unsigned>(about.st_mode & 07777));
    error = path + ": permission denied: it belongs to " + UserText(about.st_uid) + ", mode " + modeText +
            ", and this user may not read it";
    return results::AccessDenied;
  }
  if (exists && S_ISLNK(about.st_mode) && mode != SqliteStore::Mode::Import) {
    error = path + " is a symbolic link: name the store's own file";
    return results::MediaError;
  }
  if (mode == SqliteStore::Mode::Import) return results::NoError;
  if (exists && !S_ISREG(about.st_mode)) {
    error = path + ": unable to open database file (not a regular file)";
    return results::MediaError;
  }
  const result_t trusted = CheckTrustedPath(path, error);
  return ozo::Failed(trusted) ? trusted : CheckSideFiles(path, exists ? about.st_uid : ::geteuid(), error);
}

}  // namespace

result_t SqliteStore::Open(const std::string& given, Mode mode, ozo::ref_ptr<SqliteStore>& store, std::string& error) {
  sqlite::WipeReleasedMemory();
  if (const result_t trusted = Trust(given, mode, error); ozo::Failed(trusted)) return trusted;
  std::error_code missing;
  // A file given as data is opened where its links lead, as cp would read it.
  const std::string path = mode == Mode::Import ? std::filesystem::canonical(given, missing).string() : given;
  if (missing || !std::filesystem::exists(path, missing)) {
    if (mode != Mode::ReadWrite) {
      // A store is made by the first change; only data to import must exist.
      error = "no store at " + given +
              (mode == Mode::ReadOnly ? " (the first command that changes something makes it)" : "");
      return results::NotFound;
    }
    if (const result_t created = CreateOwnerOnly(path, error); ozo::Failed(created)) return created;
  }
  sqlite::Header header;
  if (const result_t classified = Classify(path, given, mode, header, error); ozo::Failed(classified))
    return classified;
  // A reader never writes beside a file: a WAL-mode file is read from a copy.
  std::unique_ptr<sqlite::PrivateCopy> copy;
  if (mode != Mode::ReadWrite && header.wal && !(copy = sqlite::PrivateCopy::Make(path, error)))
    return results::MediaError;
  const int flags = mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  for (;;) {
    sqlite::Connection db;
    const int code = copy ? sqlite::Connect(copy->file(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                                            sqlite::PrivateCopy::Vfs(), db, error)
                          : sqlite::Connect(path, flags | SQLITE_OPEN_FULLMUTEX, nullptr, db, error);
    if (code != SQLITE_OK) {
      error = given + ": " + error;
      return ResultOf(code);
    }
    ozo::ref_ptr<SqliteStore> opened =
        ozo::ref_ptr<SqliteStore>::Attach(new SqliteStore(db.release(), given, mode == Mode::ReadWrite && !copy));
    sqlite3* connection = opened->m_shared.db.get();
    const result_t accepted = Accept(connection, given, mode, error);
    if (ozo::Succeeded(accepted) && copy &&
        sqlite3_exec(connection, "PRAGMA query_only=ON", nullptr, nullptr, nullptr) != SQLITE_OK)
      return results::MediaError;
    if (ozo::Succeeded(accepted)) {
      opened->m_copy = std::move(copy);
      store = std::move(opened);
      return results::NoError;
    }
    // A dead writer's transaction that only a writer may roll back: read a
    // private copy, rolled back there, and leave the store as it is.
    if (copy || sqlite3_extended_errcode(connection) != SQLITE_READONLY_ROLLBACK) return accepted;
    copy = sqlite::PrivateCopy::Make(path, error);
    if (!copy) return results::MediaError;
  }
}

result_t SqliteStore::OpenImage(const std::string& name, const std::string& bytes, ozo::ref_ptr<SqliteStore>& store,
                                std::string& error) {
  sqlite::WipeReleasedMemory();
  std::unique_ptr<sqlite::PrivateCopy> copy = sqlite::PrivateCopy::FromBytes(bytes);
  sqlite::Connection db;
  const int code = copy ? sqlite::Connect(copy->file(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                                          sqlite::PrivateCopy::Vfs(), db, error)
                        : SQLITE_CANTOPEN;
  if (code != SQLITE_OK) {
    error = name + ": " + (copy ? error : "cannot keep it in memory");
    return ResultOf(code);
  }
  ozo::ref_ptr<SqliteStore> opened = ozo::ref_ptr<SqliteStore>::Attach(new SqliteStore(db.release(), name, false));
  sqlite3* connection = opened->m_shared.db.get();
  if (const result_t accepted = Accept(connection, name, Mode::Import, error); ozo::Failed(accepted)) return accepted;
  sqlite3_exec(connection, "PRAGMA query_only=ON", nullptr, nullptr, nullptr);
  opened->m_copy = std::move(copy);
  store = std::move(opened);
  return results::NoError;
}

SqliteStore::~SqliteStore() {
  // Every connection closes before a private copy goes.
  m_units.clear();
  m_shared.db.reset();
}

result_t SqliteStore::ResultOf(int code) noexcept {
  switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return results::NoError;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return results::Locked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return results::AccessDenied;
    case SQLITE_FULL:
      return results::OutOfSpace;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return results::BasesCorrupted;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      return results::MediaError;
    case SQLITE_NOMEM:
      return results::OutOfMemory;
    case SQLITE_TOOBIG:
      return results::FileTooBig;
    default:
      return results::UnspecifiedError;
  }
}

result_t SqliteStore::GetStoragesCount(std::uint32_t& count) {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  Statement statement(link.db.get(), "SELECT count(*) FROM trees");
  if (statement.Step() != SQLITE_ROW) return Fail(statement.code());
  count = static_cast<std::uint32_t>(statement.Int(0));
  return results::NoError;
}

result_t SqliteStore::GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  Statement statement(link.db.get(), "SELECT class_id FROM trees ORDER BY class_id LIMIT 1 OFFSET ?");
  const int step = statement.Bind(1, index).Step();
  if (step == SQLITE_DONE) return results::OutOfRange;
  if (step != SQLITE_ROW) return Fail(step);
  classId = static_cast<ozo::clsid_t>(statement.Int(0));
  return results::NoError;
}

result_t SqliteStore::GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) {
  if (!storage) return results::InvalidArgument;
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  Statement statement(link.db.get(), "SELECT root FROM trees WHERE class_id = ?");
  const int step = statement.Bind(1, classId).Step();
  if (step == SQLITE_DONE) return results::NotFound;
  if (step != SQLITE_ROW) return Fail(step);
  *storage = MakeSqliteNode(ozo::ref_ptr<SqliteStore>(this), statement.Int(0), "").Detach();
  return results::NoError;
}

result_t SqliteStore::CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) {
  if (!storage) return results::InvalidArgument;
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  const result_t existing = GetStorage(classId, storage);
  if (existing != results::NotFound) return existing;
  return Atomically([&]() -> result_t {
    Statement node(link.db.get(), "INSERT INTO nodes(parent, name) VALUES(NULL, '')");
    if (node.Step() != SQLITE_DONE) return Fail(node.code());
    const std::int64_t root = sqlite3_last_insert_rowid(link.db.get());
    Statement tree(link.db.get(), "INSERT INTO trees(class_id, root) VALUES(?, ?)");
    if (tree.Bind(1, classId).Bind(2, root).Step() != SQLITE_DONE) return Fail(tree.code());
    *storage = MakeSqliteNode(ozo::ref_ptr<SqliteStore>(this), root, "").Detach();
    return results::NoError;
  });
}

result_t SqliteStore::RemoveStorage(ozo::clsid_t classId) {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  return Atomically([&]() -> result_t {
    Statement nodes(link.db.get(), "DELETE FROM nodes WHERE id = (SELECT root FROM trees WHERE class_id = ?)");
    if (nodes.Bind(1, classId).Step() != SQLITE_DONE) return Fail(nodes.code());
    Statement tree(link.db.get(), "DELETE FROM trees WHERE class_id = ?");
    if (tree.Bind(1, classId).Step() != SQLITE_DONE) return Fail(tree.code());
    return sqlite3_changes(link.db.get()) > 0 ? results::NoError : results::NotFound;
  });
}

result_t SqliteStore::Flush() { return results::NoError; }

result_t SqliteStore::GetPath(ozo::string8_t& path) {
  path = m_path.c_str();
  return results::NoError;
}

}  // namespace host
