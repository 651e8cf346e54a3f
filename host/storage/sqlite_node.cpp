#include "host/storage/sqlite_node.h"

#include "host/storage/name_protocol.h"
#include "host/storage/sqlite_statement.h"

namespace host {

using ozo::result_t;
using ozo::types::variant_t;
using sqlite::Statement;
namespace results = ozo::results;

// A node of a stored tree, by its row id. Every call runs under the store's
// lock, and fails once the store's unit of work is lost.
class SqliteNode : public HostObject<ozo::IStorage> {
 public:
  SqliteNode(ozo::ref_ptr<SqliteStore> store, std::int64_t id, std::string name)
      : m_store(std::move(store)), m_id(id), m_name(std::move(name)) {}

  result_t AppendNode(ozo::cstr8_t name, ozo::IStorage** node) override {
    if (!name || !node) return results::InvalidArgument;
    return Call([&]() -> result_t {
      std::int64_t child = 0;
      const result_t found = FindChild(name, child);
      if (found == results::PathNotFound) {
        Statement insert(db(), "INSERT INTO nodes(parent, name) VALUES(?, ?)");
        const int step = insert.Bind(1, m_id).BindText(2, name).Step();
        if (step == SQLITE_CONSTRAINT) return results::PathNotFound;  // this node is gone
        if (step != SQLITE_DONE) return Fail(step);
        child = sqlite3_last_insert_rowid(db());
      } else if (ozo::Failed(found)) {
        return found;
      }
      *node = Make<SqliteNode>(m_store, child, name).Detach();
      return results::NoError;
    });
  }

  result_t RemoveNode(ozo::cstr8_t name) override {
    if (!name) return results::InvalidArgument;
    return Call([&]() -> result_t {
      Statement remove(db(), "DELETE FROM nodes WHERE parent = ? AND name = ?");
      if (remove.Bind(1, m_id).BindText(2, name).Step() != SQLITE_DONE) return Fail(remove.code());
      return sqlite3_changes(db()) > 0 ? results::NoError : results::PathNotFound;
    });
  }

  result_t GetNode(ozo::cstr8_t name, ozo::IStorage** node) override {
    if (!name || !node) return results::InvalidArgument;
    return Call([&]() -> result_t {
      std::int64_t child = 0;
      const result_t found = FindChild(name, child);
      if (ozo::Succeeded(found)) *node = Make<SqliteNode>(m_store, child, name).Detach();
      return found;
    });
  }

  result_t GetName(ozo::str8_t buffer, std::uint32_t& size) override {
    return Call([&] { return CopyName(m_name, buffer, size); });
  }

  result_t GetNodesCount(std::uint32_t& count) override {
    return Call([&] { return Count("SELECT count(*) FROM nodes WHERE parent = ?", count); });
  }

  result_t GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override {
    return Call([&]() -> result_t {
      Statement find(db(), "SELECT name FROM nodes WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
      const result_t row = Row(find.Bind(1, m_id).Bind(2, index));
      return ozo::Failed(row) ? row : CopyName(find.Text(0), buffer, size);
    });
  }

  result_t GetNode(std::uint32_t index, ozo::IStorage** node) override {
    if (!node) return results::InvalidArgument;
    return Call([&]() -> result_t {
      Statement find(db(), "SELECT id, name FROM nodes WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
      const result_t row = Row(find.Bind(1, m_id).Bind(2, index));
      if (ozo::Succeeded(row)) *node = Make<SqliteNode>(m_store, find.Int(0), find.Text(1)).Detach();
      return row;
    });
  }

  result_t GetValuesCount(std::uint32_t& count) override {
    return Call([&] { return Count("SELECT count(*) FROM node_values WHERE node = ?", count); });
  }

  result_t GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override {
    return Call([&]() -> result_t {
      Statement find(db(), "SELECT name FROM node_values WHERE node = ? ORDER BY id LIMIT 1 OFFSET ?");
      const result_t row = Row(find.Bind(1, m_id).Bind(2, index));
      return ozo::Failed(row) ? row : CopyName(find.Text(0), buffer, size);
    });
  }

  result_t SetValue(ozo::cstr8_t name, const variant_t& value, ozo::IStoredValueFormatter*) override {
    if (!name) return results::InvalidArgument;
    return Call([&]() -> result_t {
      Statement upsert(db(),
                       "INSERT INTO node_values(node, name, tag, scalar, data) VALUES(?, ?, ?, ?, ?) "
                       "ON CONFLICT(node, name) DO UPDATE SET tag = excluded.tag, scalar = excluded.scalar, "
                       "data = excluded.data");
      upsert.Bind(1, m_id).BindText(2, name);
      sqlite::BindVariant(upsert, 3, value);
      const int step = upsert.Step();
      if (step == SQLITE_CONSTRAINT) return results::PathNotFound;  // the node is gone
      return step == SQLITE_DONE ? results::NoError : Fail(step);
    });
  }

  result_t GetValue(ozo::cstr8_t name, variant_t& value, ozo::IStoredValueFormatter*) override {
    if (!name) return results::InvalidArgument;
    return Call([&]() -> result_t {
      Statement find(db(), "SELECT tag, scalar, data FROM node_values WHERE node = ? AND name = ?");
      const int step = find.Bind(1, m_id).BindText(2, name).Step();
      if (step == SQLITE_DONE) return results::NotFound;
      if (step == SQLITE_TOOBIG) return results::FileTooBig;  // this value alone: the store is sound
      if (step != SQLITE_ROW) return Fail(step);
      value = sqlite::ReadVariant(find, 0);
      return results::NoError;
    });
  }

  result_t GetValue(std::uint32_t index, variant_t& value, ozo::IStoredValueFormatter*) override {
    return Call([&]() -> result_t {
      Statement find(db(), "SELECT tag, scalar, data FROM node_values WHERE node = ? ORDER BY id LIMIT 1 OFFSET ?");
      const result_t row = Row(find.Bind(1, m_id).Bind(2, index));
      if (ozo::Succeeded(row)) value = sqlite::ReadVariant(find, 0);
      return row;
    });
  }

  result_t Flush() override {
    return Call([] { return results::NoError; });
  }

 protected:
  ~SqliteNode() override = default;

 private:
  sqlite3* db() const { return m_store->db(); }
  result_t Fail(int code) const { return m_store->Fail(code); }

  // `body` under the store's lock, unless the unit of work it would run in
  // is already lost (arguments are checked before).
  template <class Body>
  result_t Call(Body body) {
    std::lock_guard<std::recursive_mutex> lock(m_store->Current().mutex);
    if (const result_t usable = m_store->Usable(); ozo::Failed(usable)) return usable;
    return body();
  }

  // The row id of the child `name`, or "Path not found".
  result_t FindChild(const char* name, std::int64_t& child) {
    Statement find(db(), "SELECT id FROM nodes WHERE parent = ? AND name = ?");
    const int step = find.Bind(1, m_id).BindText(2, name).Step();
    if (step == SQLITE_DONE) return results::PathNotFound;
    if (step != SQLITE_ROW) return Fail(step);
    child = find.Int(0);
    return results::NoError;
  }

  // Steps an indexed lookup to its row: "Out of range" past the last one,
  // "File too big" for a row over the store's bound (a value no store keeps,
  // which fails its record alone, not the unit of work).
  result_t Row(Statement& statement) {
    const int step = statement.Step();
    if (step == SQLITE_DONE) return results::OutOfRange;
    if (step == SQLITE_TOOBIG) return results::FileTooBig;
    return step == SQLITE_ROW ? results::NoError : Fail(step);
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

ozo::ref_ptr<ozo::IStorage> MakeSqliteNode(ozo::ref_ptr<SqliteStore> store, std::int64_t id, std::string name) {
  return ozo::ref_ptr<ozo::IStorage>(Make<SqliteNode>(std::move(store), id, std::move(name)));
}

}  // namespace host
