// The tables a SQLite store keeps beside its trees: the policy's locks, the
// journal, and the lifecycle's rows of each slot. A table works through its
// store: the store's connection under the store's lock, one call's
// statements made atomic (see SqliteStore::Atomically), its failures the
// store's (FirstFailure).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ivo/certificate_type_table.h"
#include "ozo/result.h"

namespace host {

class SqliteStore;

class SqliteTable {
 protected:
  explicit SqliteTable(SqliteStore& store) : m_store(store) {}
  ~SqliteTable() = default;

  sqlite3* db() const;
  std::recursive_mutex& mutex() const;
  ozo::result_t Fail(int code) const;
  ozo::result_t Atomically(const std::function<ozo::result_t()>& body) const;
  // Whether the table is there: a store of an older schema, read as it is,
  // may lack one.
  ozo::result_t Present(const char* table, bool& present) const;

  SqliteStore& m_store;
};

// One column of a row kept per slot type, bound to a field of its record:
// a text or bytes (an empty one is NULL when the column may be), a number,
// or a number that may be absent (NULL).
template <class Record>
struct Column {
  using Field = std::variant<std::string Record::*, std::vector<unsigned char> Record::*, std::int64_t Record::*,
                             std::optional<std::int64_t> Record::*>;
  const char* name;
  Field field;
  bool bytes = false;  // kept as a blob, else as text
  bool nullable = true;
};

// What a table of one row per slot type is: its name, what a row is in
// words ("renewal settings"), and its columns besides the type, in the
// order of its schema.
template <class Record>
struct RowDescription {
  const char* table;
  const char* what;
  std::vector<Column<Record>> columns;
};

// A table of one row per slot type, read and written as its description
// says: no statement names a column by hand.
template <class Record>
class SqliteRows : public SqliteTable {
 public:
  SqliteRows(SqliteStore& store, const RowDescription<Record>& row) : SqliteTable(store), m_row(row) {}

  // "Not found" when the type has none ("File too big" when its row holds
  // more than a value may).
  ozo::result_t Get(ivo::PeerType type, Record& record);
  ozo::result_t Put(ivo::PeerType type, const Record& record);
  // "Not found" when there was none.
  ozo::result_t Remove(ivo::PeerType type);
  // Every type's, by type. A row whose type is none of the four (no command
  // writes one) is passed over.
  ozo::result_t All(std::map<ivo::PeerType, Record>& records);
  // One column of every type's row, a number or a text (a pending key's
  // "created", "made_by"), without reading the rest of the row; rows of no
  // type passed over.
  template <class Value>
  ozo::result_t Values(const char* column, std::map<ivo::PeerType, Value>& values);

 private:
  const RowDescription<Record>& m_row;
};

}  // namespace host
