// The pending keys of the client slots (enrollment.h), kept in the store
// beside the records they will replace.
#include <string.h>

#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_statement.h"
#include "host/storage/sqlite_store.h"

namespace host {

using ozo::result_t;
using sqlite::Statement;
namespace results = ozo::results;

SqliteStore::PendingKey::~PendingKey() {
  if (!key.empty()) ::explicit_bzero(key.data(), key.size());
}

result_t SqliteStore::GetPendingKey(std::uint32_t type, PendingKey& pending) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Statement find(m_db, "SELECT created, key, subject, extensions, certificates FROM pending_keys WHERE type = ?");
  const int step = find.Bind(1, type).Step();
  if (step == SQLITE_DONE) return results::NotFound;
  if (step == SQLITE_TOOBIG) return results::FileTooBig;
  if (step != SQLITE_ROW) return Fail(step);
  pending.created = find.Int(0);
  const auto* key = static_cast<const unsigned char*>(find.Blob(1));
  pending.key.assign(key, key + find.Bytes(1));
  const auto text = [&](int column) {
    return find.IsNull(column) ? std::string()
                               : std::string(static_cast<const char*>(find.Blob(column)), find.Bytes(column));
  };
  pending.subject = text(2);
  pending.extensions = text(3);
  pending.certificates = text(4);
  return results::NoError;
}

result_t SqliteStore::PutPendingKey(std::uint32_t type, const PendingKey& pending) {
  return Atomically([&]() -> result_t {
    Statement put(m_db,
                  "INSERT OR REPLACE INTO pending_keys(type, created, key, subject, extensions, certificates) "
                  "VALUES(?, ?, ?, ?, ?, ?)");
    put.Bind(1, type).Bind(2, pending.created).BindBlob(3, pending.key.data(), pending.key.size());
    put.BindBlob(4, pending.subject.data(), pending.subject.size());
    for (const auto& [column, bytes] : {std::pair{5, &pending.extensions}, {6, &pending.certificates}})
      if (bytes->empty())
        put.BindNull(column);
      else
        put.BindBlob(column, bytes->data(), bytes->size());
    return put.Step() == SQLITE_DONE ? results::NoError : Fail(put.code());
  });
}

result_t SqliteStore::RemovePendingKey(std::uint32_t type) {
  return Atomically([&]() -> result_t {
    Statement remove(m_db, "DELETE FROM pending_keys WHERE type = ?");
    if (remove.Bind(1, type).Step() != SQLITE_DONE) return Fail(remove.code());
    return sqlite3_changes(m_db) > 0 ? results::NoError : results::NotFound;
  });
}

result_t SqliteStore::PendingKeys(std::map<std::uint32_t, std::int64_t>& created) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  bool present = false;
  if (const int code = sqlite::HasTable(m_db, "pending_keys", present); code != SQLITE_OK) return Fail(code);
  std::map<std::uint32_t, std::int64_t> read;
  if (present) {
    Statement rows(m_db, "SELECT type, created FROM pending_keys ORDER BY type");
    int step;
    while ((step = rows.Step()) == SQLITE_ROW) read[static_cast<std::uint32_t>(rows.Int(0))] = rows.Int(1);
    if (step != SQLITE_DONE) return Fail(step);
  }
  created.swap(read);
  return results::NoError;
}

}  // namespace host
