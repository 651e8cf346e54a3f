#include "host/storage/sqlite_connection.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace host::sqlite {
namespace {

// A row of node_values holds one value and a few small columns beside it.
constexpr int kRowLimit = static_cast<int>(kMaxValueBytes) + 4096;

}  // namespace

int Connect(const std::string& target, int flags, const char* vfs, Connection& db, std::string& error) {
  sqlite3* opened = nullptr;
  Connection connection;
  int code = sqlite3_open_v2(target.c_str(), &opened, flags | SQLITE_OPEN_NOFOLLOW, vfs);
  connection.reset(opened);
  if (code == SQLITE_OK) {
    sqlite3_extended_result_codes(opened, 0);
    sqlite3_busy_timeout(opened, 5000);
    sqlite3_limit(opened, SQLITE_LIMIT_LENGTH, kRowLimit);
    sqlite3_limit(opened, SQLITE_LIMIT_ATTACHED, 0);
    const int settings[][2] = {{SQLITE_DBCONFIG_DEFENSIVE, 1},
                               {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                               {SQLITE_DBCONFIG_ENABLE_VIEW, 0},
                               {SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0}};
    for (const auto& [option, value] : settings)
      if (code == SQLITE_OK) code = sqlite3_db_config(opened, option, value, nullptr);
  }
  if (code != SQLITE_OK) {
    error = opened ? sqlite3_errmsg(opened) : sqlite3_errstr(code);
    return code;
  }
  db = std::move(connection);
  return SQLITE_OK;
}

std::string FileUri(const std::string& path, const std::string& query) {
  std::error_code ignored;
  std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
  while (absolute.compare(0, 2, "//") == 0) absolute.erase(0, 1);  // "file://" would name a host
  std::string uri = "file:";
  for (const unsigned char c : absolute) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      uri += escaped;
    }
  }
  return query.empty() ? uri : uri + "?" + query;
}

}  // namespace host::sqlite
