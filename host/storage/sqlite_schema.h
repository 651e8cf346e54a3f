// What makes a SQLite database a store of the reference host: its tables,
// and the application id and schema version in its header.
#pragma once

#include <sqlite3.h>

#include <cstdint>

namespace host::sqlite {

// The header marks of every store this host writes. A database that carries
// another application id is never taken for a store.
constexpr std::int32_t kApplicationId = 0x43524D53;  // "CRMS"
// 1: the tables without header marks (stores made before the marks);
// 2: the same tables with the marks, and event fields indexed by event.
constexpr int kSchemaVersion = 2;

enum class Identity {
  Blank,    // no tables and no marks: an empty file, or a database never written
  Older,    // a store of an earlier schema version: readable, migrated by a writer
  Current,  // a store of kSchemaVersion
  Newer,    // a store written by a later version of this host: refused
  Foreign,  // another application's database: refused and left untouched
};

// Reads the header marks and the table names; writes nothing. Returns the
// SQLite code of a failed read (SQLITE_OK otherwise); `version` is the
// schema version the database says it has (1 for an unmarked store of ours).
int Identify(sqlite3* db, Identity& identity, int& version);

// Makes a Blank or Older database Current in one transaction (it waits for
// other writers up to the busy timeout). Identifies the database again
// inside the transaction, so two processes migrating at once do it once, and
// refuses (SQLITE_MISMATCH) what has become Foreign or Newer meanwhile.
int MakeCurrent(sqlite3* db);

}  // namespace host::sqlite
