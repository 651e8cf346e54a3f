// Whole-store copies: a backup is one snapshot of the committed store written
// beside its target and renamed over it; a restore copies a checked file's
// rows (never its pages, nor its schema) into the store in one transaction.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

#include "host/storage/output_file.h"
#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_statement.h"
#include "host/storage/sqlite_store.h"

namespace host {
namespace {

using ozo::result_t;
using sqlite::Statement;
namespace results = ozo::results;

// Memory SQLite gave out; the host's SQLite allocator wipes it when freed.
struct SqliteFree {
  void operator()(unsigned char* memory) const noexcept { sqlite3_free(memory); }
};
using Image = std::unique_ptr<unsigned char, SqliteFree>;

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The rows of a table of one row per slot type whose type is one of the
// four, as an SQL condition: whatever a row's type column holds.
std::string OfAType() {
  return "typeof(type) = 'integer' AND type BETWEEN 1 AND " + std::to_string(ivo::PeerType::All().size());
}

// What a row of `table` is ("renewal settings") when it holds one row per
// slot type; null for any other table.
const char* RowsOfATypeIn(const std::string& table) {
  for (const auto& [name, what] : {std::pair(kPendingKeyRow.table, kPendingKeyRow.what),
                                   std::pair(kRenewalConfigRow.table, kRenewalConfigRow.what),
                                   std::pair(kRenewalStateRow.table, kRenewalStateRow.what)})
    if (table == name) return what;
  return nullptr;
}

// Lists the rows of `table` in `from` whose type is none of the four:
// "the backup's renewal settings of type 100000 (no such peer type)".
int ListUntyped(sqlite3* from, const std::string& table, const char* what, std::vector<std::string>& lines) {
  Statement present(from, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  const int found = present.BindText(1, table.c_str()).Step();
  if (found != SQLITE_ROW) return found == SQLITE_DONE ? SQLITE_OK : found;
  Statement rows(from, ("SELECT quote(type) FROM \"" + table + "\" WHERE NOT (" + OfAType() + ")").c_str());
  int step;
  while ((step = rows.Step()) == SQLITE_ROW)
    lines.push_back(std::string("the backup's ") + what + " of type " + rows.Text(0) + " (no such peer type)");
  return step == SQLITE_DONE ? SQLITE_OK : step;
}

// Copies the rows of `table` from `from` (those `where` selects) into the
// same table of `to`, each insert ending in `conflict`; the columns are
// those of `from`'s table, which Import checked to be a store's.
int CopyRows(sqlite3* from, sqlite3* to, const std::string& table, const std::string& conflict,
             const std::string& where = "") {
  Statement present(from, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  const int found = present.BindText(1, table.c_str()).Step();
  if (found == SQLITE_DONE) return SQLITE_OK;  // an older schema without it
  if (found != SQLITE_ROW) return found;
  Statement columns(from, ("PRAGMA table_info(\"" + table + "\")").c_str());
  std::string names, marks;
  int step;
  while ((step = columns.Step()) == SQLITE_ROW) {
    names += (names.empty() ? "\"" : ", \"") + columns.Text(1) + "\"";
    marks += marks.empty() ? "?" : ", ?";
  }
  if (step != SQLITE_DONE) return step;
  const int count = static_cast<int>(std::count(marks.begin(), marks.end(), '?'));
  Statement read(from, ("SELECT " + names + " FROM \"" + table + "\"" + where).c_str());
  Statement write(to, ("INSERT INTO main.\"" + table + "\"(" + names + ") VALUES(" + marks + ")" + conflict).c_str());
  while ((step = read.Step()) == SQLITE_ROW) {
    write.Reset();
    for (int column = 0; column < count; ++column) write.BindValue(column + 1, read.Value(column));
    if (const int written = write.Step(); written != SQLITE_DONE) return written;
  }
  return step == SQLITE_DONE ? SQLITE_OK : step;
}

}  // namespace

result_t SqliteStore::WriteSnapshot(int fd, std::string& error) {
  if (InWork()) {
    error = "a backup cannot be taken inside a unit of work";
    return results::InvalidState;
  }
  std::lock_guard<std::recursive_mutex> lock(m_shared.mutex);
  sqlite3* db = m_shared.db.get();
  sqlite3_int64 size = 0;
  const Image image(sqlite3_serialize(db, "main", &size, 0));
  if (!image || size < 100) {
    const int code = sqlite3_errcode(db);
    error = std::string("cannot take a snapshot of the store: ") +
            (code != SQLITE_OK ? sqlite3_errmsg(db) : "out of memory");
    return code != SQLITE_OK ? ResultOf(code) : results::OutOfMemory;
  }
  image.get()[18] = image.get()[19] = 1;  // a rollback-journal database, whatever the store's mode
  if (WriteAll(fd, image.get(), static_cast<std::size_t>(size))) return results::NoError;
  error = std::string("cannot write the backup: ") + std::strerror(errno);
  return errno == ENOSPC ? results::OutOfSpace : results::MediaError;
}

result_t SqliteStore::BackupTo(const std::string& path, std::string& error) {
  if (SameFile(path, m_path)) {
    error = path + " is the store itself";
    return results::InvalidArgument;
  }
  result_t snapshot = results::NoError;
  const result_t written = WriteOutputFile(
      path, 0600, [&](int fd, std::string& failure) { return ozo::Succeeded(snapshot = WriteSnapshot(fd, failure)); },
      error);
  return ozo::Failed(snapshot) ? snapshot : written;
}

result_t SqliteStore::RestoreFrom(const std::string& path, std::string& error) {
  if (SameFile(path, m_path)) {
    error = path + " is the store itself";
    return results::InvalidArgument;
  }
  ozo::ref_ptr<SqliteStore> source;
  if (const result_t opened = Open(path, Mode::Import, source, error); ozo::Failed(opened)) return opened;
  std::vector<std::string> passedOver;
  return RestoreFrom(*source, passedOver, error);
}

result_t SqliteStore::RestoreFrom(SqliteStore& source, std::vector<std::string>& passedOver, std::string& error) {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  std::lock_guard<std::recursive_mutex> sourceLock(source.m_shared.mutex);
  sqlite3* const to = link.db.get();
  sqlite3* const from = source.m_shared.db.get();
  int code = SQLITE_OK;
  std::vector<std::string> notTyped;
  const result_t result = Atomically([&]() -> result_t {
    code = sqlite3_exec(to, "PRAGMA defer_foreign_keys=ON", nullptr, nullptr, nullptr);
    for (auto table = std::rbegin(sqlite::kTables); code == SQLITE_OK && table != std::rend(sqlite::kTables); ++table)
      code = sqlite3_exec(to, ("DELETE FROM \"" + std::string(*table) + "\"").c_str(), nullptr, nullptr, nullptr);
    for (const char* table : sqlite::kTables) {
      const char* what = RowsOfATypeIn(table);
      if (code == SQLITE_OK && what) code = ListUntyped(from, table, what, notTyped);
      if (code == SQLITE_OK) code = CopyRows(from, to, table, "", what ? " WHERE " + OfAType() : "");
    }
    if (code == SQLITE_OK)
      code = CopyRows(from, to, "event_totals",
                      " ON CONFLICT(event_type) DO UPDATE SET total = max(total, excluded.total)");
    // References are checked now, not at the commit: within a unit of work
    // the commit is the host's.
    if (code == SQLITE_OK) {
      Statement dangling(to, "PRAGMA foreign_key_check");
      const int step = dangling.Step();
      code = step == SQLITE_DONE ? SQLITE_OK : step == SQLITE_ROW ? SQLITE_CONSTRAINT : step;
    }
    return code == SQLITE_OK ? results::NoError : Fail(code);
  });
  if (ozo::Succeeded(result)) {
    passedOver = std::move(notTyped);
    return result;
  }
  error = "cannot restore " + source.m_path + ": " +
          ((code & 0xFF) == SQLITE_CONSTRAINT ? "its records refer to records it does not hold"
           : (code & 0xFF) == SQLITE_TOOBIG   ? "it holds a value larger than a store keeps"
                                              : sqlite3_errstr(code));
  return result;
}

}  // namespace host
