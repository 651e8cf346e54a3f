// The tables of one row per slot type, each read and written as its row
// description says, and the lifecycle's three of them.
#include "host/lifecycle/records.h"
#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_statement.h"
#include "host/storage/sqlite_store.h"

namespace host {

using ozo::result_t;
using sqlite::Statement;
namespace results = ozo::results;

sqlite3* SqliteTable::db() const { return m_store.db(); }
std::recursive_mutex& SqliteTable::mutex() const { return m_store.Current().mutex; }
result_t SqliteTable::Fail(int code) const { return m_store.Fail(code); }
result_t SqliteTable::Atomically(const std::function<result_t()>& body) const { return m_store.Atomically(body); }

result_t SqliteTable::Present(const char* table, bool& present) const {
  const int code = sqlite::HasTable(db(), table, present);
  return code == SQLITE_OK ? results::NoError : Fail(code);
}

namespace {

template <class Record>
std::string Names(const RowDescription<Record>& row) {
  std::string names;
  for (const Column<Record>& column : row.columns) names += (names.empty() ? "" : ", ") + std::string(column.name);
  return names;
}

// The peer type of a row (its first column); none for a number that is no
// type: a row no command writes, which readers pass over.
std::optional<ivo::PeerType> TypeOf(const Statement& row) {
  const std::int64_t type = row.Int(0);
  return type < 0 ? std::nullopt : ivo::PeerType::From(static_cast<std::uint64_t>(type));
}

std::string Bytes(const Statement& row, int at) {
  const auto* data = static_cast<const char*>(row.Blob(at));
  return data ? std::string(data, row.Bytes(at)) : std::string();
}

template <class Record>
void Read(const Statement& row, int first, const RowDescription<Record>& description, Record& record) {
  int at = first;
  for (const Column<Record>& column : description.columns) {
    std::visit(
        [&](auto field) {
          auto& value = record.*field;
          using Value = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<Value, std::string>) {
            value = column.bytes ? Bytes(row, at) : row.Text(at);
          } else if constexpr (std::is_same_v<Value, std::vector<unsigned char>>) {
            // Straight into the record, which may wipe it (a private key): no copy on the way.
            const auto* data = static_cast<const unsigned char*>(row.Blob(at));
            value.assign(data, data + (data ? row.Bytes(at) : 0));
          } else if constexpr (std::is_same_v<Value, std::int64_t>) {
            value = row.Int(at);
          } else {
            value = row.OptionalInt(at);
          }
        },
        column.field);
    ++at;
  }
}

template <class Record>
void Bind(Statement& put, int first, const RowDescription<Record>& description, const Record& record) {
  int at = first;
  for (const Column<Record>& column : description.columns) {
    std::visit(
        [&](auto field) {
          const auto& value = record.*field;
          using Value = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<Value, std::string> || std::is_same_v<Value, std::vector<unsigned char>>) {
            if (value.empty() && column.nullable)
              put.BindNull(at);
            else if (column.bytes)
              put.BindBlob(at, value.data(), value.size());
            else
              put.BindText(at, std::string(value.begin(), value.end()).c_str());
          } else {
            put.Bind(at, value);
          }
        },
        column.field);
    ++at;
  }
}

}  // namespace

template <class Record>
result_t SqliteRows<Record>::Get(ivo::PeerType type, Record& record) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  Statement find(db(), ("SELECT " + Names(m_row) + " FROM " + m_row.table + " WHERE type = ?").c_str());
  const int step = find.Bind(1, type.value()).Step();
  if (step == SQLITE_DONE) return results::NotFound;
  if (step == SQLITE_TOOBIG) return results::FileTooBig;
  if (step != SQLITE_ROW) return Fail(step);
  Read(find, 0, m_row, record);
  return results::NoError;
}

template <class Record>
result_t SqliteRows<Record>::Put(ivo::PeerType type, const Record& record) {
  return Atomically([&]() -> result_t {
    std::string marks = "?";  // the type
    for (std::size_t i = 0; i < m_row.columns.size(); ++i) marks += ", ?";
    Statement put(db(), (std::string("INSERT OR REPLACE INTO ") + m_row.table + "(type, " + Names(m_row) + ") VALUES(" +
                         marks + ")")
                            .c_str());
    put.Bind(1, type.value());
    Bind(put, 2, m_row, record);
    return put.Step() == SQLITE_DONE ? results::NoError : Fail(put.code());
  });
}

template <class Record>
result_t SqliteRows<Record>::Remove(ivo::PeerType type) {
  return Atomically([&]() -> result_t {
    Statement remove(db(), (std::string("DELETE FROM ") + m_row.table + " WHERE type = ?").c_str());
    if (remove.Bind(1, type.value()).Step() != SQLITE_DONE) return Fail(remove.code());
    return sqlite3_changes(db()) > 0 ? results::NoError : results::NotFound;
  });
}

template <class Record>
result_t SqliteRows<Record>::All(std::map<ivo::PeerType, Record>& records) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  bool present = false;
  if (const result_t found = Present(m_row.table, present); ozo::Failed(found)) return found;
  std::map<ivo::PeerType, Record> read;
  if (present) {
    Statement rows(db(), ("SELECT type, " + Names(m_row) + " FROM " + m_row.table + " ORDER BY type").c_str());
    int step;
    while ((step = rows.Step()) == SQLITE_ROW)
      if (const std::optional<ivo::PeerType> type = TypeOf(rows)) Read(rows, 1, m_row, read[*type]);
    if (step != SQLITE_DONE) return Fail(step);
  }
  records.swap(read);
  return results::NoError;
}

template <class Record>
template <class Value>
result_t SqliteRows<Record>::Values(const char* column, std::map<ivo::PeerType, Value>& values) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  bool present = false;
  if (const result_t found = Present(m_row.table, present); ozo::Failed(found)) return found;
  std::map<ivo::PeerType, Value> read;
  if (present) {
    Statement rows(db(), (std::string("SELECT type, ") + column + " FROM " + m_row.table + " ORDER BY type").c_str());
    int step;
    while ((step = rows.Step()) == SQLITE_ROW)
      if (const std::optional<ivo::PeerType> type = TypeOf(rows)) {
        if constexpr (std::is_same_v<Value, std::string>)
          read[*type] = rows.Text(1);
        else
          read[*type] = rows.Int(1);
      }
    if (step != SQLITE_DONE) return Fail(step);
  }
  values.swap(read);
  return results::NoError;
}

template class SqliteRows<lifecycle::PendingKey>;
template class SqliteRows<lifecycle::RenewalConfig>;
template class SqliteRows<lifecycle::RenewalState>;
template result_t SqliteRows<lifecycle::PendingKey>::Values(const char*, std::map<ivo::PeerType, std::int64_t>&);
template result_t SqliteRows<lifecycle::PendingKey>::Values(const char*, std::map<ivo::PeerType, std::string>&);

using lifecycle::PendingKey;
using lifecycle::RenewalConfig;
using lifecycle::RenewalState;

const RowDescription<PendingKey> kPendingKeyRow = {"pending_keys",
                                                   "pending key",
                                                   {{"created", &PendingKey::created, false, false},
                                                    {"made_by", &PendingKey::madeBy},
                                                    {"key", &PendingKey::key, true, false},
                                                    {"subject", &PendingKey::subject, true, false},
                                                    {"extensions", &PendingKey::extensions, true},
                                                    {"certificates", &PendingKey::certificates, true},
                                                    {"trial_peer", &PendingKey::trialPeer},
                                                    {"trial_servername", &PendingKey::trialServername}}};
const RowDescription<RenewalConfig> kRenewalConfigRow = {"renewal_configs",
                                                         "renewal settings",
                                                         {{"server", &RenewalConfig::server, false, false},
                                                          {"command", &RenewalConfig::command, false, false},
                                                          {"trusted", &RenewalConfig::trusted, true},
                                                          {"probe", &RenewalConfig::trialPeer},
                                                          {"before_days", &RenewalConfig::beforeDays},
                                                          {"hook", &RenewalConfig::hook},
                                                          {"sender", &RenewalConfig::sender, true},
                                                          {"servername", &RenewalConfig::trialServername}}};
const RowDescription<RenewalState> kRenewalStateRow = {"renewal_states",
                                                       "renewal state",
                                                       {{"last_attempt", &RenewalState::lastAttempt},
                                                        {"last_success", &RenewalState::lastSuccess},
                                                        {"failures", &RenewalState::failures, false, false},
                                                        {"next_attempt", &RenewalState::nextAttempt},
                                                        {"last_error", &RenewalState::lastError},
                                                        {"hook_error", &RenewalState::hookError}}};

}  // namespace host
