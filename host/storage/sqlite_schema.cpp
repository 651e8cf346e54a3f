#include "host/storage/sqlite_schema.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <tuple>
#include <vector>

#include "host/storage/sqlite_connection.h"
#include "host/storage/sqlite_statement.h"

namespace host::sqlite {
namespace {

// Each step takes a store from the version before it to its own; a blank
// database takes them all. Version N's schema is what steps 1 to N make,
// and SQLite keeps each object's text as its statement wrote it, so every
// store of one version holds the same schema, byte for byte.
constexpr const char* kSteps[] = {
    R"sql(
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
)sql", "CREATE INDEX IF NOT EXISTS event_fields_by_event ON event_fields(event, position);",
    R"sql(
CREATE TABLE IF NOT EXISTS event_totals(event_type INTEGER PRIMARY KEY, total INTEGER NOT NULL);
INSERT OR IGNORE INTO event_totals(event_type, total) SELECT event_type, count(*) FROM events GROUP BY event_type;
)sql",
    R"sql(
CREATE TABLE IF NOT EXISTS pending_keys(
  type INTEGER PRIMARY KEY, created INTEGER NOT NULL, key BLOB NOT NULL, subject BLOB NOT NULL, extensions BLOB,
  certificates BLOB);
)sql",
    R"sql(
CREATE TABLE IF NOT EXISTS renewal_configs(
  type INTEGER PRIMARY KEY, server TEXT NOT NULL, command TEXT NOT NULL, trusted BLOB, probe TEXT,
  before_days INTEGER, hook TEXT);
CREATE TABLE IF NOT EXISTS renewal_states(
  type INTEGER PRIMARY KEY, last_attempt INTEGER, last_success INTEGER, failures INTEGER NOT NULL,
  next_attempt INTEGER, last_error TEXT, hook_error TEXT);
)sql", "ALTER TABLE renewal_configs ADD COLUMN sender BLOB;",
    R"sql(
ALTER TABLE renewal_configs ADD COLUMN servername TEXT;
ALTER TABLE pending_keys ADD COLUMN trial_peer TEXT;
ALTER TABLE pending_keys ADD COLUMN trial_servername TEXT;
)sql", "ALTER TABLE pending_keys ADD COLUMN made_by TEXT;",
};
static_assert(std::size(kSteps) == kSchemaVersion, "one step per schema version");

// One object of a schema: type, name, table, SQL text.
using SchemaObject = std::tuple<std::string, std::string, std::string, std::string>;
using Schema = std::vector<SchemaObject>;

int ReadInteger(sqlite3* db, const char* sql, std::int64_t& value) {
  Statement statement(db, sql);
  const int step = statement.Step();
  if (step != SQLITE_ROW) return step;
  value = statement.Int(0);
  return SQLITE_OK;
}

int ReadSchema(sqlite3* db, Schema& schema) {
  Statement rows(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name");
  int step;
  while ((step = rows.Step()) == SQLITE_ROW)
    schema.emplace_back(rows.Text(0), rows.Text(1), rows.Text(2), rows.Text(3));
  return step == SQLITE_DONE ? SQLITE_OK : step;
}

int RunSteps(sqlite3* db, int from, int to) {
  for (int step = from; step < to; ++step)
    if (const int code = sqlite3_exec(db, kSteps[step], nullptr, nullptr, nullptr); code != SQLITE_OK) return code;
  return SQLITE_OK;
}

// The schema of each version (index 0: version 1), made once in memory by
// the same steps that make a store's.
const Schema& SchemaOf(int version) {
  static const std::vector<Schema> kSchemas = [] {
    std::vector<Schema> schemas(kSchemaVersion);
    Connection db;
    std::string error;
    if (Connect(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr, db, error) != SQLITE_OK)
      return schemas;
    for (int version = 1; version <= kSchemaVersion; ++version)
      if (RunSteps(db.get(), version - 1, version) != SQLITE_OK ||
          ReadSchema(db.get(), schemas[version - 1]) != SQLITE_OK)
        schemas[version - 1].clear();
    return schemas;
  }();
  return kSchemas[static_cast<std::size_t>(version - 1)];
}

// What sets `schema` apart from `expected`, as a phrase; empty when nothing.
std::string Difference(const Schema& schema, const Schema& expected) {
  for (const SchemaObject& object : schema) {
    if (std::find(expected.begin(), expected.end(), object) != expected.end()) continue;
    const std::string& type = std::get<0>(object);
    const std::string& name = std::get<1>(object);
    const bool known = std::any_of(expected.begin(), expected.end(), [&](const SchemaObject& ours) {
      return std::get<0>(ours) == type && std::get<1>(ours) == name;
    });
    return known ? "a " + type + " " + name + " unlike a store's" : "a " + type + " " + name + " of its own";
  }
  for (const SchemaObject& object : expected)
    if (std::find(schema.begin(), schema.end(), object) == schema.end())
      return "no " + std::get<0>(object) + " " + std::get<1>(object);
  return "";
}

std::int32_t BigEndian(const unsigned char* bytes) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) << 24 |
                                   static_cast<std::uint32_t>(bytes[1]) << 16 |
                                   static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3]);
}

}  // namespace

ozo::result_t ReadHeader(const std::string& path, Header& header, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return ozo::results::MediaError;
  }
  unsigned char bytes[100];
  std::size_t read = 0;
  ssize_t got = 0;
  while (read < sizeof(bytes) && (got = ::read(fd, bytes + read, sizeof(bytes) - read)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    read += static_cast<std::size_t>(got);
  }
  const int readError = errno;
  ::close(fd);
  if (got < 0) {
    error = path + ": " + std::strerror(readError);
    return ozo::results::MediaError;
  }
  header = Header{};
  if (read == 0) return ozo::results::NoError;
  static const char kMagic[] = "SQLite format 3";  // with its terminating zero: 16 bytes
  if (read < sizeof(bytes) || std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0) {
    header.kind = Header::Kind::NotADatabase;
    return ozo::results::NoError;
  }
  header.kind = Header::Kind::Database;
  header.wal = bytes[18] == 2 || bytes[19] == 2;
  header.userVersion = BigEndian(bytes + 60);
  header.applicationId = BigEndian(bytes + 68);
  return ozo::results::NoError;
}

int Identify(sqlite3* db, Identity& identity, int& version, std::string& difference) {
  std::int64_t applicationId = 0, userVersion = 0;
  if (const int read = ReadInteger(db, "PRAGMA application_id", applicationId); read != SQLITE_OK) return read;
  if (const int read = ReadInteger(db, "PRAGMA user_version", userVersion); read != SQLITE_OK) return read;
  Schema schema;
  if (const int read = ReadSchema(db, schema); read != SQLITE_OK) return read;

  difference.clear();
  version = static_cast<int>(userVersion);
  if (applicationId == kApplicationId) {
    if (userVersion > kSchemaVersion) {
      identity = Identity::Newer;
    } else if (userVersion < 2) {  // marks came with version 2
      identity = Identity::Altered;
      difference = "schema version " + std::to_string(userVersion) + " in its marks";
    } else {
      difference = Difference(schema, SchemaOf(version));
      identity = !difference.empty()            ? Identity::Altered
                 : userVersion < kSchemaVersion ? Identity::Older
                                                : Identity::Current;
    }
  } else if (applicationId != 0) {
    identity = Identity::Foreign;
  } else if (schema.empty()) {
    identity = Identity::Blank;
  } else {
    identity = Difference(schema, SchemaOf(1)).empty() ? Identity::Older : Identity::Foreign;
    version = 1;
  }
  return SQLITE_OK;
}

int MakeCurrent(sqlite3* db) {
  if (const int begun = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); begun != SQLITE_OK)
    return begun;
  Identity identity = Identity::Foreign;
  int version = 0;
  std::string difference;
  int code = Identify(db, identity, version, difference);
  if (code == SQLITE_OK && identity != Identity::Blank && identity != Identity::Older && identity != Identity::Current)
    code = SQLITE_MISMATCH;
  if (code == SQLITE_OK && identity != Identity::Current) {
    const std::string marks = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    code = RunSteps(db, identity == Identity::Blank ? 0 : version, kSchemaVersion);
    if (code == SQLITE_OK) code = sqlite3_exec(db, marks.c_str(), nullptr, nullptr, nullptr);
  }
  if (code == SQLITE_OK) code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK && sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return code;
}

int HasTable(sqlite3* db, const char* name, bool& present) {
  Statement find(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  const int step = find.BindText(1, name).Step();
  present = step == SQLITE_ROW;
  return step == SQLITE_ROW || step == SQLITE_DONE ? SQLITE_OK : step;
}

}  // namespace host::sqlite
