#include "host/storage/sqlite_store.h"

#include <cstring>

#include "host/storage/name_protocol.h"

namespace host {
namespace {

using ozo::result_t;
using ozo::types::variant_t;
using ozo::types::VariantTag;
namespace results = ozo::results;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS trees(class_id INTEGER PRIMARY KEY, root INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS nodes(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES nodes(id) ON DELETE CASCADE,
  name TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS nodes_by_parent ON nodes(parent, name);
CREATE TABLE IF NOT EXISTS node_values(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  node INTEGER NOT NULL REFERENCES nodes(id) ON DELETE CASCADE,
  name TEXT NOT NULL, tag INTEGER NOT NULL, scalar INTEGER NOT NULL, data BLOB,
  UNIQUE(node, name));
CREATE TABLE IF NOT EXISTS locked_settings(setting_id INTEGER PRIMARY KEY);
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY AUTOINCREMENT, event_type INTEGER NOT NULL, severity INTEGER NOT NULL,
  initiator_kind INTEGER NOT NULL, initiator_id INTEGER, initiator_name BLOB, time INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS event_fields(
  event INTEGER NOT NULL REFERENCES events(id) ON DELETE CASCADE, position INTEGER NOT NULL,
  field_id INTEGER NOT NULL, tag INTEGER NOT NULL, scalar INTEGER NOT NULL, data BLOB);
)sql";

// One prepared statement, finalised on every path.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { m_code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr); }
  ~Statement() { sqlite3_finalize(m_statement); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return m_code == SQLITE_OK; }
  int code() const { return m_code; }
  Statement& Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
  }
  Statement& BindText(int index, const char* text) {
    sqlite3_bind_text(m_statement, index, text, -1, SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, const void* data, std::size_t size) {
    sqlite3_bind_blob64(m_statement, index, size ? data : "", size, SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindNull(int index) {
    sqlite3_bind_null(m_statement, index);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    return m_code = ok() || m_code == SQLITE_ROW || m_code == SQLITE_DONE ? sqlite3_step(m_statement) : m_code;
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(m_statement, column); }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                : std::string();
  }
  const void* Blob(int column) const { return sqlite3_column_blob(m_statement, column); }
  std::size_t Bytes(int column) const { return static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)); }
  bool IsNull(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* m_statement = nullptr;
  int m_code;
};

// Binds a variant into columns (tag, scalar, data) starting at `first`.
void BindVariant(Statement& statement, int first, const variant_t& value) {
  statement.Bind(first, static_cast<std::int64_t>(value.tag()))
      .Bind(first + 1, static_cast<std::int64_t>(value.scalar()));
  switch (value.tag()) {
    case VariantTag::String8:
      statement.BindBlob(first + 2, value.string8().data(), value.string8().size());
      break;
    case VariantTag::String16:
      statement.BindBlob(first + 2, value.string16().data(), value.string16().size() * sizeof(char16_t));
      break;
    case VariantTag::Blob:
      statement.BindBlob(first + 2, value.blob().data(), value.blob().size());
      break;
    default:
      statement.BindNull(first + 2);
  }
}

variant_t ReadVariant(const Statement& statement, int first) {
  const auto tag = static_cast<VariantTag>(statement.Int(first));
  const auto scalar = static_cast<std::uint64_t>(statement.Int(first + 1));
  const auto* data = static_cast<const char*>(statement.Blob(first + 2));
  const std::size_t bytes = statement.Bytes(first + 2);
  switch (tag) {
    case VariantTag::String8:
      return variant_t::FromString8(ozo::string8_t(data ? data : "", bytes));
    case VariantTag::String16:
      return variant_t::FromString16(
          ozo::string16_t(reinterpret_cast<const char16_t*>(data ? data : ""), bytes / sizeof(char16_t)));
    case VariantTag::Blob:
      return variant_t::FromBlob(ozo::blob_t(data, bytes));
    case VariantTag::Bool:
      return variant_t::FromBool(scalar != 0);
    case VariantTag::Int32:
      return variant_t::FromInt32(static_cast<std::int32_t>(scalar));
    case VariantTag::UInt32:
      return variant_t::FromUInt32(static_cast<std::uint32_t>(scalar));
    case VariantTag::Int64:
      return variant_t::FromInt64(static_cast<std::int64_t>(scalar));
    case VariantTag::UInt64:
      return variant_t::FromUInt64(scalar);
    case VariantTag::DateTime:
      return variant_t::FromDateTime(scalar);
    case VariantTag::Empty:
      break;
  }
  return {};
}

// Runs `body` inside a savepoint, so a call of several statements is atomic
// inside or outside a unit of work.
template <class Body>
result_t Atomically(SqliteStore& store, Body body) {
  sqlite3_exec(store.db(), "SAVEPOINT call", nullptr, nullptr, nullptr);
  const result_t result = body();
  sqlite3_exec(store.db(), ozo::Failed(result) ? "ROLLBACK TO call; RELEASE call" : "RELEASE call", nullptr, nullptr,
               nullptr);
  return result;
}

class SqliteNode : public HostObject<ozo::IStorage> {
 public:
  SqliteNode(ozo::ref_ptr<SqliteStore> store, std::int64_t id, std::string name)
      : m_store(std::move(store)), m_id(id), m_name(std::move(name)) {}

  result_t AppendNode(ozo::cstr8_t name, ozo::IStorage** node) override {
    if (!name || !node) return results::InvalidArgument;
    return Call("IStorage::AppendNode", [&] {
      return Atomically(*m_store, [&]() -> result_t {
        Statement remove(db(), "DELETE FROM nodes WHERE parent = ? AND name = ?");
        if (remove.Bind(1, m_id).BindText(2, name).Step() != SQLITE_DONE) return Fail(remove.code());
        Statement insert(db(), "INSERT INTO nodes(parent, name) VALUES(?, ?)");
        if (insert.Bind(1, m_id).BindText(2, name).Step() != SQLITE_DONE)
          return insert.code() == SQLITE_CONSTRAINT ? results::PathNotFound : Fail(insert.code());
        *node = Make<SqliteNode>(m_store, sqlite3_last_insert_rowid(db()), name).Detach();
        return results::NoError;
      });
    });
  }

  result_t RemoveNode(ozo::cstr8_t name) override {
    if (!name) return results::InvalidArgument;
    return Call("IStorage::RemoveNode", [&]() -> result_t {
      Statement remove(db(), "DELETE FROM nodes WHERE parent = ? AND name = ?");
      if (remove.Bind(1, m_id).BindText(2, name).Step() != SQLITE_DONE) return Fail(remove.code());
      return sqlite3_changes(db()) > 0 ? results::NoError : results::PathNotFound;
    });
  }

  result_t GetNode(ozo::cstr8_t name, ozo::IStorage** node) override {
    if (!name || !node) return results::InvalidArgument;
    return Call("IStorage::GetNode", [&]() -> result_t {
      Statement find(db(), "SELECT id FROM nodes WHERE parent = ? AND name = ?");
      const int step = find.Bind(1, m_id).BindText(2, name).Step();
      if (step == SQLITE_DONE) return results::PathNotFound;
      if (step != SQLITE_ROW) return Fail(step);
      *node = Make<SqliteNode>(m_store, find.Int(0), name).Detach();
      return results::NoError;
    });
  }

  result_t GetName(ozo::str8_t buffer, std::uint32_t& size) override {
    return Call("IStorage::GetName", [&] { return CopyName(m_name, buffer, size); });
  }

  result_t GetNodesCount(std::uint32_t& count) override {
    return Call("IStorage::GetNodesCount", [&] { return Count("SELECT count(*) FROM nodes WHERE parent = ?", count); });
  }

  result_t GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override {
    return Call("IStorage::GetNodeName", [&]() -> result_t {
      Statement find(db(), "SELECT name FROM nodes WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
      const int step = find.Bind(1, m_id).Bind(2, index).Step();
      if (step == SQLITE_DONE) return results::OutOfRange;
      if (step != SQLITE_ROW) return Fail(step);
      return CopyName(find.Text(0), buffer, size);
    });
  }

  result_t GetNode(std::uint32_t index, ozo::IStorage** node) override {
    if (!node) return results::InvalidArgument;
    return Call("IStorage::GetNode/index", [&]() -> result_t {
      Statement find(db(), "SELECT id, name FROM nodes WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
      const int step = find.Bind(1, m_id).Bind(2, index).Step();
      if (step == SQLITE_DONE) return results::OutOfRange;
      if (step != SQLITE_ROW) return Fail(step);
      *node = Make<SqliteNode>(m_store, find.Int(0), find.Text(1)).Detach();
      return results::NoError;
    });
  }

  result_t GetValuesCount(std::uint32_t& count) override {
    return Call("IStorage::GetValuesCount",
                [&] { return Count("SELECT count(*) FROM node_values WHERE node = ?", count); });
  }

  result_t GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override {
    return Call("IStorage::GetValueName", [&]() -> result_t {
      Statement find(db(), "SELECT name FROM node_values WHERE node = ? ORDER BY id LIMIT 1 OFFSET ?");
      const int step = find.Bind(1, m_id).Bind(2, index).Step();
      if (step == SQLITE_DONE) return results::OutOfRange;
      if (step != SQLITE_ROW) return Fail(step);
      return CopyName(find.Text(0), buffer, size);
    });
  }

  result_t SetValue(ozo::cstr8_t name, const variant_t& value, ozo::IStoredValueFormatter*) override {
    if (!name) return results::InvalidArgument;
    return Call("IStorage::SetValue", [&]() -> result_t {
      Statement upsert(db(),
                       "INSERT INTO node_values(node, name, tag, scalar, data) VALUES(?, ?, ?, ?, ?) "
                       "ON CONFLICT(node, name) DO UPDATE SET tag = excluded.tag, scalar = excluded.scalar, "
                       "data = excluded.data");
      upsert.Bind(1, m_id).BindText(2, name);
      BindVariant(upsert, 3, value);
      const int step = upsert.Step();
      if (step == SQLITE_CONSTRAINT) return results::PathNotFound;  // the node is gone
      return step == SQLITE_DONE ? results::NoError : Fail(step);
    });
  }

  result_t GetValue(ozo::cstr8_t name, variant_t& value, ozo::IStoredValueFormatter*) override {
    if (!name) return results::InvalidArgument;
    return Call("IStorage::GetValue", [&]() -> result_t {
      Statement find(db(), "SELECT tag, scalar, data FROM node_values WHERE node = ? AND name = ?");
      const int step = find.Bind(1, m_id).BindText(2, name).Step();
      if (step == SQLITE_DONE) return results::NotFound;
      if (step != SQLITE_ROW) return Fail(step);
      value = ReadVariant(find, 0);
      return results::NoError;
    });
  }

  result_t GetValue(std::uint32_t index, variant_t& value, ozo::IStoredValueFormatter*) override {
    return Call("IStorage::GetValue/index", [&]() -> result_t {
      Statement find(db(), "SELECT tag, scalar, data FROM node_values WHERE node = ? ORDER BY id LIMIT 1 OFFSET ?");
      const int step = find.Bind(1, m_id).Bind(2, index).Step();
      if (step == SQLITE_DONE) return results::OutOfRange;
      if (step != SQLITE_ROW) return Fail(step);
      value = ReadVariant(find, 0);
      return results::NoError;
    });
  }

  result_t Flush() override {
    return Call("IStorage::Flush", [] { return results::NoError; });
  }

 protected:
  ~SqliteNode() override = default;

 private:
  sqlite3* db() const { return m_store->db(); }
  result_t Fail(int code) const { return m_store->ResultOf(code); }

  // Fault injection, then `body` under the store's lock.
  template <class Body>
  result_t Call(const char* operation, Body body) {
    const result_t fault = m_store->faults().Enter(operation);
    if (ozo::Failed(fault)) return fault;
    std::lock_guard<std::recursive_mutex> lock(m_store->mutex());
    const result_t result = body();
    return ozo::Failed(result) ? result : fault;
  }

  result_t Count(const char* sql, std::uint32_t& count) {
    Statement statement(db(), sql);
    const int step = statement.Bind(1, m_id).Step();
    if (step != SQLITE_ROW) return Fail(step);
    count = static_cast<std::uint32_t>(statement.Int(0));
    return results::NoError;
  }

  ozo::ref_ptr<SqliteStore> m_store;
  std::int64_t m_id;
  std::string m_name;
};

}  // namespace

result_t SqliteStore::Open(const std::string& path, Mode mode, ozo::ref_ptr<SqliteStore>& store, std::string& error,
                           std::shared_ptr<FaultInjector> faults) {
  sqlite3* db = nullptr;
  const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_FULLMUTEX;
  int code = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  ozo::ref_ptr<SqliteStore> opened = ozo::ref_ptr<SqliteStore>::Attach(new SqliteStore(db, path, std::move(faults)));
  if (code == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 0);
    const char* setup = mode == Mode::ReadOnly ? "PRAGMA foreign_keys=ON; SELECT count(*) FROM trees;"
                                               : "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                                                 "PRAGMA foreign_keys=ON; PRAGMA secure_delete=ON;";
    code = sqlite3_exec(db, setup, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK && mode == Mode::ReadWrite) code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  }
  if (code != SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    return opened->ResultOf(code);
  }
  store = std::move(opened);
  return results::NoError;
}

SqliteStore::~SqliteStore() { sqlite3_close_v2(m_db); }

result_t SqliteStore::ResultOf(int code) const noexcept {
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
      return results::Make(0x80000069);  // "Bases corrupted"
    case SQLITE_IOERR:
      return results::MediaError;
    case SQLITE_CANTOPEN:
      return results::FileNotFound;
    case SQLITE_NOMEM:
      return results::OutOfMemory;
    case SQLITE_TOOBIG:
      return results::FileTooBig;
    default:
      return results::UnspecifiedError;
  }
}

std::string SqliteStore::LastError() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  return sqlite3_errmsg(m_db);
}

result_t SqliteStore::GetStoragesCount(std::uint32_t& count) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Statement statement(m_db, "SELECT count(*) FROM trees");
  if (statement.Step() != SQLITE_ROW) return ResultOf(statement.code());
  count = static_cast<std::uint32_t>(statement.Int(0));
  return results::NoError;
}

result_t SqliteStore::GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Statement statement(m_db, "SELECT class_id FROM trees ORDER BY class_id LIMIT 1 OFFSET ?");
  const int step = statement.Bind(1, index).Step();
  if (step == SQLITE_DONE) return results::OutOfRange;
  if (step != SQLITE_ROW) return ResultOf(step);
  classId = static_cast<ozo::clsid_t>(statement.Int(0));
  return results::NoError;
}

result_t SqliteStore::GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) {
  if (const result_t fault = m_faults->Enter("IPersistentStorage::GetStorage"); ozo::Failed(fault)) return fault;
  if (!storage) return results::InvalidArgument;
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Statement statement(m_db, "SELECT root FROM trees WHERE class_id = ?");
  const int step = statement.Bind(1, classId).Step();
  if (step == SQLITE_DONE) return results::NotFound;
  if (step != SQLITE_ROW) return ResultOf(step);
  *storage = Make<SqliteNode>(ozo::ref_ptr<SqliteStore>(this), statement.Int(0), "").Detach();
  return results::NoError;
}

result_t SqliteStore::CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) {
  if (const result_t fault = m_faults->Enter("IPersistentStorage::CreateStorage"); ozo::Failed(fault)) return fault;
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  const result_t existing = GetStorage(classId, storage);
  if (existing != results::NotFound) return existing;
  return Atomically(*this, [&]() -> result_t {
    Statement node(m_db, "INSERT INTO nodes(parent, name) VALUES(NULL, '')");
    if (node.Step() != SQLITE_DONE) return ResultOf(node.code());
    const std::int64_t root = sqlite3_last_insert_rowid(m_db);
    Statement tree(m_db, "INSERT INTO trees(class_id, root) VALUES(?, ?)");
    if (tree.Bind(1, classId).Bind(2, root).Step() != SQLITE_DONE) return ResultOf(tree.code());
    *storage = Make<SqliteNode>(ozo::ref_ptr<SqliteStore>(this), root, "").Detach();
    return results::NoError;
  });
}

result_t SqliteStore::RemoveStorage(ozo::clsid_t classId) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  return Atomically(*this, [&]() -> result_t {
    Statement nodes(m_db, "DELETE FROM nodes WHERE id = (SELECT root FROM trees WHERE class_id = ?)");
    if (nodes.Bind(1, classId).Step() != SQLITE_DONE) return ResultOf(nodes.code());
    Statement tree(m_db, "DELETE FROM trees WHERE class_id = ?");
    if (tree.Bind(1, classId).Step() != SQLITE_DONE) return ResultOf(tree.code());
    return sqlite3_changes(m_db) > 0 ? results::NoError : results::NotFound;
  });
}

result_t SqliteStore::Flush() { return results::NoError; }

result_t SqliteStore::GetPath(ozo::string8_t& path) {
  path = m_path.c_str();
  return results::NoError;
}

result_t SqliteStore::BeginWork() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  return ResultOf(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
}

result_t SqliteStore::CommitWork() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  return ResultOf(sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr));
}

result_t SqliteStore::RollbackWork() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  return ResultOf(sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr));
}

std::set<std::uint32_t> SqliteStore::LockedSettings() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  std::set<std::uint32_t> locked;
  Statement statement(m_db, "SELECT setting_id FROM locked_settings");
  while (statement.Step() == SQLITE_ROW) locked.insert(static_cast<std::uint32_t>(statement.Int(0)));
  return locked;
}

result_t SqliteStore::SetSettingLocked(std::uint32_t settingId, bool locked) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Statement statement(m_db, locked ? "INSERT OR IGNORE INTO locked_settings(setting_id) VALUES(?)"
                                   : "DELETE FROM locked_settings WHERE setting_id = ?");
  return ResultOf(statement.Bind(1, settingId).Step());
}

result_t SqliteStore::AppendEvent(const ivo::CertificateEvent& event) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  return Atomically(*this, [&]() -> result_t {
    Statement insert(m_db,
                     "INSERT INTO events(event_type, severity, initiator_kind, initiator_id, initiator_name, time) "
                     "VALUES(?, ?, ?, ?, ?, ?)");
    insert.Bind(1, event.eventType).Bind(2, event.severity).Bind(3, event.initiator.kind).Bind(6, event.time);
    if (event.initiator.details) {
      insert.Bind(4, event.initiator.details->id)
          .BindBlob(5, event.initiator.details->name.data(), event.initiator.details->name.size() * sizeof(char16_t));
    } else {
      insert.BindNull(4).BindNull(5);
    }
    if (insert.Step() != SQLITE_DONE) return ResultOf(insert.code());
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);
    for (std::size_t i = 0; i < event.fields.size(); ++i) {
      Statement field(
          m_db, "INSERT INTO event_fields(event, position, field_id, tag, scalar, data) VALUES(?, ?, ?, ?, ?, ?)");
      field.Bind(1, id).Bind(2, static_cast<std::int64_t>(i)).Bind(3, event.fields[i].name);
      BindVariant(field, 4, event.fields[i].data);
      if (field.Step() != SQLITE_DONE) return ResultOf(field.code());
    }
    return results::NoError;
  });
}

std::vector<ivo::CertificateEvent> SqliteStore::Events() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  std::vector<ivo::CertificateEvent> events;
  Statement rows(m_db,
                 "SELECT id, event_type, severity, initiator_kind, initiator_id, initiator_name, time FROM events "
                 "ORDER BY id");
  while (rows.Step() == SQLITE_ROW) {
    ivo::CertificateEvent event;
    event.eventType = static_cast<std::uint32_t>(rows.Int(1));
    event.severity = static_cast<std::uint32_t>(rows.Int(2));
    event.initiator.kind = static_cast<std::uint32_t>(rows.Int(3));
    if (!rows.IsNull(4)) {
      event.initiator.details.emplace();
      event.initiator.details->id = static_cast<std::uint32_t>(rows.Int(4));
      event.initiator.details->name =
          ozo::string16_t(static_cast<const char16_t*>(rows.Blob(5)), rows.Bytes(5) / sizeof(char16_t));
    }
    event.time = rows.Int(6);
    Statement fields(m_db, "SELECT field_id, tag, scalar, data FROM event_fields WHERE event = ? ORDER BY position");
    fields.Bind(1, rows.Int(0));
    while (fields.Step() == SQLITE_ROW) {
      ivo::RuntimeField field;
      field.name = static_cast<std::uint32_t>(fields.Int(0));
      field.data = ReadVariant(fields, 1);
      event.fields.push_back(std::move(field));
    }
    events.push_back(std::move(event));
  }
  return events;
}

}  // namespace host
