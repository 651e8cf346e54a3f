// A prepared SQLite statement owned for one use, and the columns in which the
// SQLite store keeps a variant.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

#include "ozo/types/variant.h"

namespace host::sqlite {

// One prepared statement, finalised on every path. A statement that failed to
// prepare, or one of whose values failed to bind (too big, out of memory),
// answers Step with that error: it never runs with a value missing.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { m_code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr); }
  ~Statement() { sqlite3_finalize(m_statement); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int code() const { return m_code; }
  Statement& Bind(int index, std::int64_t value) { return Bound(sqlite3_bind_int64(m_statement, index, value)); }
  Statement& BindText(int index, const char* text) {
    return Bound(sqlite3_bind_text(m_statement, index, text, -1, SQLITE_TRANSIENT));
  }
  Statement& BindBlob(int index, const void* data, std::size_t size) {
    return Bound(sqlite3_bind_blob64(m_statement, index, size ? data : "", size, SQLITE_TRANSIENT));
  }
  Statement& BindNull(int index) { return Bound(sqlite3_bind_null(m_statement, index)); }
  // NULL for an absent number or an empty text.
  Statement& Bind(int index, const std::optional<std::int64_t>& value) {
    return value ? Bind(index, *value) : BindNull(index);
  }
  Statement& BindTextOrNull(int index, const std::string& text) {
    return text.empty() ? BindNull(index) : BindText(index, text.c_str());
  }
  // A value of another statement's row, as it is (any type).
  Statement& BindValue(int index, const sqlite3_value* value) {
    return Bound(sqlite3_bind_value(m_statement, index, value));
  }
  // Makes the statement ready to run again with new values.
  void Reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    if (m_code == SQLITE_ROW || m_code == SQLITE_DONE) m_code = SQLITE_OK;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    const bool usable = m_code == SQLITE_OK || m_code == SQLITE_ROW || m_code == SQLITE_DONE;
    return m_code = usable ? sqlite3_step(m_statement) : m_code;
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(m_statement, column); }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text ? std::string(text, Bytes(column)) : std::string();
  }
  const void* Blob(int column) const { return sqlite3_column_blob(m_statement, column); }
  std::size_t Bytes(int column) const { return static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)); }
  bool IsNull(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }
  std::optional<std::int64_t> OptionalInt(int column) const {
    return IsNull(column) ? std::nullopt : std::optional<std::int64_t>(Int(column));
  }
  const sqlite3_value* Value(int column) const { return sqlite3_column_value(m_statement, column); }

 private:
  Statement& Bound(int code) {
    if (code != SQLITE_OK && m_code == SQLITE_OK) m_code = code;
    return *this;
  }

  sqlite3_stmt* m_statement = nullptr;
  int m_code;
};

// A variant occupies three columns from `first` on: tag, scalar, data.
void BindVariant(Statement& statement, int first, const ozo::types::variant_t& value);
ozo::types::variant_t ReadVariant(const Statement& statement, int first);

}  // namespace host::sqlite
