// Each type's renewal settings and state (renewal_schedule.h), kept in the
// store beside the certificates they renew.
#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_statement.h"
#include "host/storage/sqlite_store.h"

namespace host {

using ozo::result_t;
using sqlite::Statement;
namespace results = ozo::results;

namespace {

constexpr const char* kConfigColumns = "server, command, trusted, probe, before_days, hook, sender";
constexpr const char* kStateColumns = "last_attempt, last_success, failures, next_attempt, last_error, hook_error";

void Read(const Statement& row, int at, SqliteStore::RenewalConfig& config) {
  config.server = row.Text(at);
  config.command = row.Text(at + 1);
  config.trusted = row.Text(at + 2);
  config.probe = row.Text(at + 3);
  config.beforeDays = row.OptionalInt(at + 4);
  config.hook = row.Text(at + 5);
  config.sender.assign(static_cast<const char*>(row.Blob(at + 6)), row.Bytes(at + 6));
}

void Read(const Statement& row, int at, SqliteStore::RenewalState& state) {
  state.lastAttempt = row.OptionalInt(at);
  state.lastSuccess = row.OptionalInt(at + 1);
  state.failures = row.Int(at + 2);
  state.nextAttempt = row.OptionalInt(at + 3);
  state.lastError = row.Text(at + 4);
  state.hookError = row.Text(at + 5);
}

void Bind(Statement& put, const SqliteStore::RenewalConfig& config) {
  put.BindText(2, config.server.c_str()).BindText(3, config.command.c_str()).BindTextOrNull(4, config.trusted);
  put.BindTextOrNull(5, config.probe).Bind(6, config.beforeDays).BindTextOrNull(7, config.hook);
  if (config.sender.empty())
    put.BindNull(8);
  else
    put.BindBlob(8, config.sender.data(), config.sender.size());
}

void Bind(Statement& put, const SqliteStore::RenewalState& state) {
  put.Bind(2, state.lastAttempt).Bind(3, state.lastSuccess).Bind(4, state.failures).Bind(5, state.nextAttempt);
  put.BindTextOrNull(6, state.lastError).BindTextOrNull(7, state.hookError);
}

}  // namespace

template <class Record>
result_t SqliteStore::GetRow(const char* table, const char* columns, std::uint32_t type, Record& record) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Statement find(m_db, (std::string("SELECT ") + columns + " FROM " + table + " WHERE type = ?").c_str());
  const int step = find.Bind(1, type).Step();
  if (step == SQLITE_DONE) return results::NotFound;
  if (step != SQLITE_ROW) return Fail(step);
  Read(find, 0, record);
  return results::NoError;
}

template <class Record>
result_t SqliteStore::PutRow(const char* table, const char* columns, std::uint32_t type, const Record& record) {
  return Atomically([&]() -> result_t {
    std::string marks = "?, ?";  // the type and the first column
    for (const char* at = columns; *at; ++at)
      if (*at == ',') marks += ", ?";
    Statement put(
        m_db,
        (std::string("INSERT OR REPLACE INTO ") + table + "(type, " + columns + ") VALUES(" + marks + ")").c_str());
    put.Bind(1, type);
    Bind(put, record);
    return put.Step() == SQLITE_DONE ? results::NoError : Fail(put.code());
  });
}

template <class Record>
result_t SqliteStore::AllRows(const char* table, const char* columns, std::map<std::uint32_t, Record>& records) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  bool present = false;
  if (const int code = sqlite::HasTable(m_db, table, present); code != SQLITE_OK) return Fail(code);
  std::map<std::uint32_t, Record> read;
  if (present) {
    Statement rows(m_db, (std::string("SELECT type, ") + columns + " FROM " + table + " ORDER BY type").c_str());
    int step;
    while ((step = rows.Step()) == SQLITE_ROW) Read(rows, 1, read[static_cast<std::uint32_t>(rows.Int(0))]);
    if (step != SQLITE_DONE) return Fail(step);
  }
  records.swap(read);
  return results::NoError;
}

result_t SqliteStore::GetRenewalConfig(std::uint32_t type, RenewalConfig& config) {
  return GetRow("renewal_configs", kConfigColumns, type, config);
}

result_t SqliteStore::PutRenewalConfig(std::uint32_t type, const RenewalConfig& config) {
  return PutRow("renewal_configs", kConfigColumns, type, config);
}

result_t SqliteStore::RemoveRenewalConfig(std::uint32_t type) {
  return Atomically([&]() -> result_t {
    Statement remove(m_db, "DELETE FROM renewal_configs WHERE type = ?");
    if (remove.Bind(1, type).Step() != SQLITE_DONE) return Fail(remove.code());
    return sqlite3_changes(m_db) > 0 ? results::NoError : results::NotFound;
  });
}

result_t SqliteStore::GetRenewalState(std::uint32_t type, RenewalState& state) {
  return GetRow("renewal_states", kStateColumns, type, state);
}

result_t SqliteStore::PutRenewalState(std::uint32_t type, const RenewalState& state) {
  return PutRow("renewal_states", kStateColumns, type, state);
}

result_t SqliteStore::RenewalConfigs(std::map<std::uint32_t, RenewalConfig>& configs) {
  return AllRows("renewal_configs", kConfigColumns, configs);
}

result_t SqliteStore::RenewalStates(std::map<std::uint32_t, RenewalState>& states) {
  return AllRows("renewal_states", kStateColumns, states);
}

}  // namespace host
