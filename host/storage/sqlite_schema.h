// What makes a SQLite database a store of the reference host: its schema,
// exactly, and the application id and schema version in its header.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "ozo/result.h"

namespace host::sqlite {

// The header marks of every store this host writes. A database that carries
// another application id is never taken for a store.
constexpr std::int32_t kApplicationId = 0x43524D53;  // "CRMS"
// 1: the tables without header marks (stores made before the marks);
// 2: the same tables with the marks, and event fields indexed by event;
// 3: a lifetime count of the events of each type, which pruning, the
//    journal's bound and a restore never lower (seeded from the journal);
// 4: the pending key of each type's client slot (enrollment.h);
// 5: each slot's renewal settings and state (renewal_schedule.h);
// 6: the name a renewal's CA answers must be signed by (its expected sender);
// 7: the server name a renewal's trial sends, the peer that refused a kept
//    certificate;
// 8: what made a pending key (a request, a renewal, an enrollment).
constexpr int kSchemaVersion = 8;

// The first 100 bytes of a database file, read without SQLite: what a file
// is can be told before any connection could roll back a journal or
// checkpoint a log beside it.
struct Header {
  enum class Kind { Empty, NotADatabase, Database } kind = Kind::Empty;
  std::int32_t applicationId = 0;
  std::int32_t userVersion = 0;
  bool wal = false;  // the file is in write-ahead-log mode
};
// Reads the header of `path`; fails ("Media error") with `error` set when it
// cannot be read.
ozo::result_t ReadHeader(const std::string& path, Header& header, std::string& error);

enum class Identity {
  Blank,    // no schema and no marks: an empty file, or a database never written
  Older,    // a store of an earlier schema version: readable, migrated by a writer
  Current,  // a store of kSchemaVersion
  Newer,    // a store written by a later version of this host: refused
  Foreign,  // another application's database: refused and left untouched
  Altered,  // marked as a store, but its schema is not a store's: refused
};

// Reads the header marks and the schema; writes nothing. A store's schema
// must be exactly the one its version makes: the same tables, columns and
// indexes, and nothing else (no trigger, view or index of its own), so a
// file brings no code into the store. Returns the SQLite code of a failed
// read (SQLITE_OK otherwise); `version` is the schema version the database
// says it has (1 for an unmarked store of ours); `difference` names what
// sets an Altered database apart ("trigger steal").
int Identify(sqlite3* db, Identity& identity, int& version, std::string& difference);

// Makes a Blank or Older database Current in one transaction (it waits for
// other writers up to the busy timeout). Identifies the database again
// inside the transaction, so two processes migrating at once do it once, and
// refuses (SQLITE_MISMATCH) what has become anything else meanwhile.
int MakeCurrent(sqlite3* db);

// Whether `db` has the table `name` (a store of an older schema, read as it
// is, may lack one); returns the SQLite code of a failed read, else
// SQLITE_OK.
int HasTable(sqlite3* db, const char* name, bool& present);

// The tables a restore replaces, in an order in which each one's rows may be
// copied after those of the tables it refers to. The event totals are not
// replaced: a restore keeps the larger of the two counts of each type.
constexpr const char* kTables[] = {"trees",        "nodes",        "node_values",     "locked_settings", "events",
                                   "event_fields", "pending_keys", "renewal_configs", "renewal_states"};

}  // namespace host::sqlite
