#include "host/storage/sqlite_schema.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "host/storage/sqlite_statement.h"

namespace host::sqlite {
namespace {

constexpr const char* kTables[] = {"trees", "nodes", "node_values", "locked_settings", "events", "event_fields"};

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
CREATE INDEX IF NOT EXISTS event_fields_by_event ON event_fields(event, position);
)sql";

int ReadInteger(sqlite3* db, const char* sql, std::int64_t& value) {
  Statement statement(db, sql);
  const int step = statement.Step();
  if (step != SQLITE_ROW) return step;
  value = statement.Int(0);
  return SQLITE_OK;
}

}  // namespace

int Identify(sqlite3* db, Identity& identity, int& version) {
  std::int64_t applicationId = 0, userVersion = 0;
  if (const int read = ReadInteger(db, "PRAGMA application_id", applicationId); read != SQLITE_OK) return read;
  if (const int read = ReadInteger(db, "PRAGMA user_version", userVersion); read != SQLITE_OK) return read;
  Statement names(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
  std::vector<std::string> tables;
  int step;
  while ((step = names.Step()) == SQLITE_ROW) tables.push_back(names.Text(0));
  if (step != SQLITE_DONE) return step;

  version = static_cast<int>(userVersion);
  if (applicationId == kApplicationId) {
    identity = userVersion > kSchemaVersion   ? Identity::Newer
               : userVersion < kSchemaVersion ? Identity::Older
                                              : Identity::Current;
    return SQLITE_OK;
  }
  const bool ours = std::all_of(tables.begin(), tables.end(), [](const std::string& table) {
    return std::find(std::begin(kTables), std::end(kTables), table) != std::end(kTables);
  });
  if (applicationId != 0 || !ours) {
    identity = Identity::Foreign;
  } else if (tables.empty()) {
    identity = Identity::Blank;
  } else {
    identity = Identity::Older;
    version = 1;
  }
  return SQLITE_OK;
}

int MakeCurrent(sqlite3* db) {
  if (const int begun = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); begun != SQLITE_OK)
    return begun;
  Identity identity = Identity::Foreign;
  int version = 0;
  int code = Identify(db, identity, version);
  if (code == SQLITE_OK && (identity == Identity::Foreign || identity == Identity::Newer)) code = SQLITE_MISMATCH;
  if (code == SQLITE_OK && identity != Identity::Current) {
    const std::string marks = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) code = sqlite3_exec(db, marks.c_str(), nullptr, nullptr, nullptr);
  }
  if (code == SQLITE_OK) code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK && sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return code;
}

}  // namespace host::sqlite
