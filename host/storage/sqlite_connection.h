// Every connection the reference host opens to a database, set up one way:
// no code from the file runs, and no value read or written is unbounded.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <memory>
#include <string>

namespace host::sqlite {

// The largest value a store keeps: a certificate or a PKCS#12 container (a
// real one is a few KiB; certctl reads no larger file). A value over it is
// neither written ("File too big") nor read: a store that holds one, however
// it came to, answers "File too big" for that record alone.
constexpr std::size_t kMaxValueBytes = 1024 * 1024;

struct Closer {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

// Opens `target` (a path; a "file:" URI when `flags` has SQLITE_OPEN_URI)
// through `vfs` (null: the default) and sets the connection up:
//  - never through a symbolic link (SQLITE_OPEN_NOFOLLOW);
//  - defensive, with an untrusted schema and no views: what the file's
//    schema says runs nothing beyond our own statements;
//  - rows and values bounded by kMaxValueBytes (plus room for the columns
//    beside a value), no attached databases;
//  - waits up to 5 s for other writers; plain result codes.
// Returns the SQLite code; on failure `error` says why and `db` is empty.
int Connect(const std::string& target, int flags, const char* vfs, Connection& db, std::string& error);

// What every connection that writes a store runs first: a rollback journal
// (a reader that may only read the file creates nothing beside it), every
// commit synced whole, deleted content overwritten; and what every
// connection runs: references between rows enforced.
inline constexpr const char* kWriterSettings =
    "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; PRAGMA secure_delete=ON;";
inline constexpr const char* kConnectionSettings = "PRAGMA foreign_keys=ON";

// "file:" URI of `path` (made absolute, percent-encoded) with `query`
// ("immutable=1"), for Connect with SQLITE_OPEN_URI.
std::string FileUri(const std::string& path, const std::string& query);

}  // namespace host::sqlite
