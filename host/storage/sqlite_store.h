// A persistent store in one SQLite database file: the storage trees of every
// class id, plus the reference host's policy locks and published events.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/host_object.h"
#include "host/lifecycle/records.h"
#include "host/status.h"
#include "host/storage/sqlite_connection.h"
#include "host/storage/sqlite_journal.h"
#include "host/storage/sqlite_private_copy.h"
#include "ivo/events.h"
#include "ozo/storage.h"

namespace host {

// What the lifecycle's tables hold (sqlite_rows.cpp).
extern const RowDescription<lifecycle::PendingKey> kPendingKeyRow;
extern const RowDescription<lifecycle::RenewalConfig> kRenewalConfigRow;
extern const RowDescription<lifecycle::RenewalState> kRenewalStateRow;

// Durability: the database keeps a rollback journal (journal_mode=DELETE)
// with synchronous=FULL; unlike a write-ahead log, that lets a user who may
// only read the file read it without creating files beside it. Every
// storage call is its own transaction unless the host has opened a unit of
// work (BeginWork), which then holds every call until CommitWork (or
// RollbackWork). A host that makes each component operation one unit gets an
// all-or-nothing store: a process killed at any point leaves every record as
// it was before that operation or as it is after it. Flush adds nothing:
// whatever is committed is already on disk.
//
// No false success: a call reports success only once its statements are
// committed (outside a unit) or held by the unit. A unit of work in which any
// SQLite statement failed cannot be committed: CommitWork rolls it back and
// returns the first failure, so a component that carried on after a failed
// write never makes half of its change durable. Once SQLite has rolled a unit
// back by itself (a full disk or an I/O error can), every later call of the
// unit fails instead of running outside it.
//
// Names under one node are unique keys. AppendNode opens the child of that
// name when there is one and creates it otherwise, as tree stores and
// registries do: a copy into a tree adds to what it holds and removes
// nothing, and a writer that wants a fresh record removes the old one first.
// Children and values keep their insertion order. A missing child is "Path
// not found", a missing value "Not found". SQLite failures map to result
// codes (busy: "Locked"; read-only: "Access denied"; full disk: "Out of
// space"; not a database: "Bases corrupted"; I/O and a file that cannot be
// opened: "Media error"), never to a code a component reads as a missing
// child.
//
// Threads, as SQLite's serialized mode and its rule that a transaction
// belongs to a connection: any thread may call any method at any time.
// Calls outside a unit of work share one connection, each call made whole
// under its lock. A unit of work belongs to the thread that began it and
// runs on a connection of its own: that thread's calls (the component's
// through this store included) join it, and only that thread commits or
// rolls it back. Another thread's change never joins it: it waits, as
// another process would, until the unit ends (up to the busy timeout, then
// "Locked"), and its reads see what is committed.
class SqliteStore : public HostObject<ozo::IPersistentStorage> {
 public:
  // ReadWrite and ReadOnly open a store that decides trust; Import opens a
  // file given as data (a backup to restore, an old store to upgrade from),
  // only to read it.
  enum class Mode { ReadWrite, ReadOnly, Import };

  // Opens the store at `path`; on failure `error` tells why in one line.
  //
  // Nobody else steers a store ("Access denied" with the file or folder, its
  // owner, mode and fix, see file_trust.h): it must be this user's or
  // root's, in a folder that only they can write, under folders that others
  // can write only when sticky; a -journal, -wal or -shm file beside it must
  // be the store's owner's, else it is refused and left as it is. A symbolic
  // link is never opened as a store. Import judges none of this: it checks
  // what the file holds instead (below).
  //
  // A store is owner-only: ReadWrite creates a missing file with mode 0600
  // whatever the umask (and SQLite gives its journal the file's mode), but
  // never in a missing folder; ReadOnly and Import never create anything
  // ("Not found": no store there). A reader never writes beside the file:
  // one that finds a transaction a dead writer left behind, which only a
  // writer may roll back, or a WAL-mode file, reads a private copy in memory
  // (see sqlite_private_copy.h).
  //
  // A store knows it is one: its header carries the application id and
  // schema version of sqlite_schema.h, and its schema is exactly the one of
  // its version. What a file is is told from its header (and for a file
  // without marks from its schema read as it is) before any connection that
  // could roll back a journal or checkpoint a log opens it. Refused, and
  // left byte for byte as they are with everything beside them: another
  // application's database ("Bases corrupted"), a store whose schema has
  // been changed (a trigger, view or index of its own: "Bases corrupted"), a
  // store of a newer schema ("Not supported"), a file that is not a database
  // ("Bases corrupted"). ReadWrite makes an empty database or a store of an
  // older schema current in one transaction; ReadOnly and Import read an
  // older store as it is and refuse an empty database ("Not found").
  // ReadWrite fails with "Access denied" on a store this process may only
  // read. Import also runs SQLite's integrity check over the whole file and
  // refuses a damaged one ("Bases corrupted").
  //
  // Every connection is defensive, trusts no schema, runs no view and bounds
  // values by sqlite::kMaxValueBytes (see sqlite_connection.h).
  static ozo::result_t Open(const std::string& path, Mode mode, ozo::ref_ptr<SqliteStore>& store, std::string& error);

  ozo::result_t GetStoragesCount(std::uint32_t& count) override;
  ozo::result_t GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) override;
  ozo::result_t CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) override;
  ozo::result_t RemoveStorage(ozo::clsid_t classId) override;
  ozo::result_t Flush() override;
  ozo::result_t GetPath(ozo::string8_t& path) override;
  ozo::result_t GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) override;

  // Units of work of the calling thread (see above), on a store opened
  // ReadWrite ("Access denied" on any other): BEGIN IMMEDIATE on a
  // connection of its own (waits up to the busy timeout for other writers;
  // "Invalid state" when the thread has one open already), COMMIT,
  // ROLLBACK. CommitWork refuses (and rolls back) a unit in which a
  // statement failed. Commit and rollback without a unit open do nothing.
  ozo::result_t BeginWork();
  ozo::result_t CommitWork();
  ozo::result_t RollbackWork();

  // The tables beside the trees: the policy's locks, the journal (events
  // and operation records), and the lifecycle's rows of each slot (pending
  // keys, renewal settings and states; none from a store of an older
  // schema). Each call is atomic, and part of the unit of work when one is
  // open.
  SqliteLocks& locks() noexcept { return m_locks; }
  SqliteJournal& journal() noexcept { return m_journal; }
  SqliteRows<lifecycle::PendingKey>& pendingKeys() noexcept { return m_pendingKeys; }
  SqliteRows<lifecycle::RenewalConfig>& renewalConfigs() noexcept { return m_renewalConfigs; }
  SqliteRows<lifecycle::RenewalState>& renewalStates() noexcept { return m_renewalStates; }
  // Whether the calling thread has a unit of work open.
  bool InWork();

  // A consistent copy of the whole store in a new file at `path`: one
  // snapshot of the committed store (other processes may write meanwhile),
  // in rollback-journal mode, written as every output is (see
  // WriteOutputFile: owner-only, whole or not at all, never through another
  // user's link or into a pipe).
  ozo::result_t BackupTo(const std::string& path, std::string& error);
  // The same snapshot written to the open descriptor `fd` (a pipe, say).
  ozo::result_t WriteSnapshot(int fd, std::string& error);
  // Opens a store given as its bytes (a backup read from a pipe), as Import
  // opens a file, from a private copy in memory; `name` names it in errors.
  static ozo::result_t OpenImage(const std::string& name, const std::string& bytes, ozo::ref_ptr<SqliteStore>& store,
                                 std::string& error);
  // Replaces every record, lock and event of the store with those of
  // `source` (opened as Import, so checked whole), atomically: inside a unit
  // of work as part of it, else in a transaction of its own. Rows are
  // copied, never pages, so the store keeps its own schema and journal mode
  // whatever the source's, and nothing of the source but its data comes in.
  // The lifetime event totals keep the larger count of each type.
  // References that lead nowhere refuse the restore; the store is unchanged
  // on any failure. A row of the lifecycle's tables whose type is none of
  // the four is not copied: `passedOver` says so, one line each.
  ozo::result_t RestoreFrom(SqliteStore& source, std::vector<std::string>& passedOver, std::string& error);
  // The same from the store at `path`, opened as Import.
  ozo::result_t RestoreFrom(const std::string& path, std::string& error);

  // The first SQLite failure since the calling thread's unit of work
  // began, or, outside one, since the store opened (a failed unit's
  // included), as "<SQLite's message>", or empty.
  std::string FirstFailure();
  // The same as a Status: ok when there is none, else a store failure
  // ("the store cannot be used: <SQLite's message>").
  Status FirstFailureStatus();
  // The last SQLite error text of the connection the calling thread works
  // through, for messages.
  std::string LastError();

  // The connection the calling thread works through (its unit's, else the
  // shared one), for a host that inspects the database itself.
  sqlite3* db();
  // The result code of an SQLite code: "Locked", "Access denied", "Out of
  // space", "Bases corrupted", "Media error", "Out of memory", "File too big".
  static ozo::result_t ResultOf(int code) noexcept;

 protected:
  ~SqliteStore() override;

 private:
  friend class SqliteNode;
  friend class SqliteTable;

  SqliteStore(sqlite3* db, std::string path, bool unitsOfWork) : m_path(std::move(path)), m_unitsOfWork(unitsOfWork) {
    m_shared.db.reset(db);
  }

  // A connection, the lock its calls are made under, and the unit of work
  // on it: whether one is open and its first failure.
  struct Link {
    sqlite::Connection db;
    std::recursive_mutex mutex;
    bool inWork = false;
    int failure = SQLITE_OK;
    std::string failureText;
  };
  // The link the calling thread works through: its unit's connection from
  // BeginWork until the unit ends, else the shared one.
  Link& Current();
  // The calling thread's unit link, made when it has none.
  Link& UnitLink();
  // The connection of a unit of work, set up as the store's own.
  ozo::result_t OpenUnitConnection(Link& link);
  // Ends the calling thread's unit: its connection closed, a failure it
  // had kept as the shared link's first when that has none.
  void EndUnit(Link& link);

  // Records the first failure of the current link and maps the SQLite code
  // to a result.
  ozo::result_t Fail(int code);
  // A failure when the unit of work has been rolled back under its feet.
  ozo::result_t Usable();
  // Runs `body` (one call's statements) in a savepoint: atomic inside or
  // outside a unit of work, and outside a unit its success is the commit's.
  ozo::result_t Atomically(const std::function<ozo::result_t()>& body);

  std::string m_path;
  const bool m_unitsOfWork;  // opened ReadWrite on the file itself
  Link m_shared;
  std::mutex m_unitsMutex;  // guards the map, never held over a call
  std::map<std::thread::id, std::unique_ptr<Link>> m_units;
  SqliteLocks m_locks{*this};
  SqliteJournal m_journal{*this};
  SqliteRows<lifecycle::PendingKey> m_pendingKeys{*this, kPendingKeyRow};
  SqliteRows<lifecycle::RenewalConfig> m_renewalConfigs{*this, kRenewalConfigRow};
  SqliteRows<lifecycle::RenewalState> m_renewalStates{*this, kRenewalStateRow};
  // What a reader reads instead of the store after a writer died (see
  // sqlite_private_copy.h); removed after the connection is closed.
  std::unique_ptr<sqlite::PrivateCopy> m_copy;
};

}  // namespace host
