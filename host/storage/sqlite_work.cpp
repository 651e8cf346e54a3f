// Units of work, and the connections calls run on: the shared one outside a
// unit, and a unit's own, which belongs to the thread that began it (see
// sqlite_store.h).
#include <cstring>

#include "host/storage/sqlite_store.h"

namespace host {

using ozo::result_t;
namespace results = ozo::results;

SqliteStore::Link& SqliteStore::Current() {
  std::lock_guard<std::mutex> lock(m_unitsMutex);
  const auto unit = m_units.find(std::this_thread::get_id());
  return unit != m_units.end() && unit->second->db ? *unit->second : m_shared;
}

SqliteStore::Link& SqliteStore::UnitLink() {
  std::lock_guard<std::mutex> lock(m_unitsMutex);
  std::unique_ptr<Link>& unit = m_units[std::this_thread::get_id()];
  if (!unit) unit = std::make_unique<Link>();
  return *unit;
}

sqlite3* SqliteStore::db() { return Current().db.get(); }

result_t SqliteStore::OpenUnitConnection(Link& link) {
  std::string error;
  int code = sqlite::Connect(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr, link.db, error);
  if (code == SQLITE_OK) code = sqlite3_exec(link.db.get(), sqlite::kWriterSettings, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) code = sqlite3_exec(link.db.get(), sqlite::kConnectionSettings, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) return results::NoError;
  link.failure = code;
  link.failureText = link.db ? sqlite3_errmsg(link.db.get()) : error;
  return ResultOf(code);
}

void SqliteStore::EndUnit(Link& link) {
  link.inWork = false;
  link.db.reset();
  std::lock_guard<std::recursive_mutex> lock(m_shared.mutex);
  if (link.failure != SQLITE_OK && m_shared.failure == SQLITE_OK) {
    m_shared.failure = link.failure;
    m_shared.failureText = link.failureText;
  }
}

result_t SqliteStore::Fail(int code) {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  if (link.failure == SQLITE_OK && code != SQLITE_OK) {
    link.failure = code;
    const char* message = sqlite3_errmsg(link.db.get());
    link.failureText = message && std::strcmp(message, "not an error") != 0 ? message : sqlite3_errstr(code);
  }
  return ResultOf(code);
}

result_t SqliteStore::Usable() {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  if (!link.inWork || sqlite3_get_autocommit(link.db.get()) == 0) return results::NoError;
  return link.failure != SQLITE_OK ? ResultOf(link.failure) : results::InvalidState;
}

result_t SqliteStore::Atomically(const std::function<result_t()>& body) {
  Link& link = Current();
  sqlite3* db = link.db.get();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  if (const result_t usable = Usable(); ozo::Failed(usable)) return usable;
  const bool outermost = sqlite3_get_autocommit(db) != 0;
  if (const int begun = sqlite3_exec(db, "SAVEPOINT call", nullptr, nullptr, nullptr); begun != SQLITE_OK)
    return Fail(begun);
  result_t result = body();
  if (ozo::Succeeded(result)) {
    const int released = sqlite3_exec(db, "RELEASE call", nullptr, nullptr, nullptr);  // outermost: the commit
    if (released == SQLITE_OK) return result;
    result = Fail(released);
  }
  if (outermost) {
    if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  } else if (sqlite3_exec(db, "ROLLBACK TO call; RELEASE call", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(sqlite3_errcode(db));
  }
  return result;
}

std::string SqliteStore::FirstFailure() {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  return link.failureText;
}

Status SqliteStore::FirstFailureStatus() {
  const std::string failure = FirstFailure();
  if (failure.empty()) return {};
  return Status::StoreFailure(ozo::results::MediaError, "the store cannot be used: " + failure);
}

std::string SqliteStore::LastError() {
  Link& link = Current();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  return sqlite3_errmsg(link.db.get());
}

result_t SqliteStore::BeginWork() {
  if (!m_unitsOfWork) return results::AccessDenied;  // a store opened to read takes no unit
  Link& link = UnitLink();
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  if (link.inWork) return results::InvalidState;
  link.failure = SQLITE_OK;
  link.failureText.clear();
  if (!link.db)
    if (const result_t opened = OpenUnitConnection(link); ozo::Failed(opened)) return opened;
  // Until the unit begins, a connection that failed to begin one serves the
  // thread's calls, and says why.
  const int begun = sqlite3_exec(link.db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (begun != SQLITE_OK) return Fail(begun);
  link.inWork = true;
  return results::NoError;
}

result_t SqliteStore::CommitWork() {
  Link& link = Current();
  if (!link.inWork) return results::NoError;
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  if (link.failure != SQLITE_OK) {
    RollbackWork();
    return ResultOf(link.failure);
  }
  if (const result_t usable = Usable(); ozo::Failed(usable)) {
    EndUnit(link);
    return usable;
  }
  const int committed = sqlite3_exec(link.db.get(), "COMMIT", nullptr, nullptr, nullptr);
  if (committed != SQLITE_OK) {
    const result_t failure = Fail(committed);
    RollbackWork();
    return failure;
  }
  EndUnit(link);
  return results::NoError;
}

bool SqliteStore::InWork() { return Current().inWork; }

result_t SqliteStore::RollbackWork() {
  Link& link = Current();
  if (!link.inWork) return results::NoError;
  std::lock_guard<std::recursive_mutex> lock(link.mutex);
  result_t result = results::NoError;
  if (sqlite3_get_autocommit(link.db.get()) == 0) {  // not rolled back by SQLite already
    const int rolledBack = sqlite3_exec(link.db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    if (rolledBack != SQLITE_OK) result = Fail(rolledBack);
  }
  EndUnit(link);
  return result;
}

}  // namespace host
