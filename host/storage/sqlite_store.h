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
#include <vector>

#include "host/host_object.h"
#include "host/storage/sqlite_private_copy.h"
#include "ivo/events.h"
#include "ozo/storage.h"

namespace host {

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
// Thread-safe: one connection per store, guarded by the store's mutex.
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

  // Units of work: BEGIN IMMEDIATE (waits up to the busy timeout for other
  // writers), COMMIT, ROLLBACK. CommitWork refuses (and rolls back) a unit in
  // which a statement failed.
  ozo::result_t BeginWork();
  ozo::result_t CommitWork();
  ozo::result_t RollbackWork();

  // Settings the policy locks against local change.
  ozo::result_t LockedSettings(std::set<std::uint32_t>& locked);
  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked);
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked);

  // Published events and the host's operation records (journal_records.h),
  // oldest first, each with its id: ids only grow and are never reused, so
  // an entry keeps its id across pruning. The journal is bounded: an append
  // that takes it past the limit (kDefaultEventLimit unless set; 0: no
  // limit) drops the oldest entries in the same statement, so a store's size
  // stays bounded under any history: 10,000 events with the component's six
  // fields (names of 100 characters) take under 6 MiB, and less than 8 MiB
  // whatever their history. Each append also counts its type in the
  // lifetime totals, which pruning, the bound and a restore never lower.
  static constexpr std::uint64_t kDefaultEventLimit = 10000;
  void SetEventLimit(std::uint64_t limit);
  ozo::result_t AppendEvent(const ivo::CertificateEvent& event);
  struct JournalEntry {
    std::int64_t id = 0;
    ivo::CertificateEvent event;
  };
  ozo::result_t Journal(std::vector<JournalEntry>& entries);
  // How many entries of each type the store has ever journalled.
  ozo::result_t EventTotals(std::map<std::uint32_t, std::uint64_t>& totals);
  // Removes events older than `before` (seconds since 1970) when given, then
  // all but the newest `keep` when given; `removed` counts them.
  ozo::result_t PruneEvents(std::optional<std::int64_t> before, std::optional<std::uint64_t> keep,
                            std::uint64_t& removed);

  // The pending key of a type's client slot (see enrollment.h): its private
  // key (DER, PKCS#8), when it was made, what its last request asked for,
  // and a signed certificate kept with it. The key is wiped when the object goes.
  struct PendingKey {
    std::int64_t created = 0;
    std::vector<unsigned char> key;
    std::string subject;       // DER: the subject name of the last request made for the key
    std::string extensions;    // DER: its extensions; empty when it had none
    std::string certificates;  // PEM; empty when none is kept
    PendingKey() = default;
    PendingKey(const PendingKey&) = default;
    PendingKey& operator=(const PendingKey&) = default;
    ~PendingKey();
  };
  // "Not found" when the slot has no pending key.
  ozo::result_t GetPendingKey(std::uint32_t type, PendingKey& pending);
  ozo::result_t PutPendingKey(std::uint32_t type, const PendingKey& pending);
  // "Not found" when there was none.
  ozo::result_t RemovePendingKey(std::uint32_t type);
  // The types with a pending key, and when each was made.
  ozo::result_t PendingKeys(std::map<std::uint32_t, std::int64_t>& created);

  // How a type's client certificate is renewed (certctl renew-config): the
  // CA's URL, the request ("kur" or "cr"), the certificates its answers
  // must chain to (PEM; empty: the type's server certificate), the peer the
  // new pair is tried against first ("HOST:PORT"; empty: none), renewal
  // this many days before the end (besides at two thirds of the lifetime),
  // a command run after each renewal, and the subject the CA's answers
  // must be signed by (DER; empty: any CA or RA certificate).
  struct RenewalConfig {
    std::string server;
    std::string command = "kur";
    std::string trusted;
    std::string probe;
    std::optional<std::int64_t> beforeDays;
    std::string hook;
    std::string sender;
  };
  // What the renewals of a type have come to: times in seconds since 1970,
  // the failures since the last success, and the last error in words.
  struct RenewalState {
    std::optional<std::int64_t> lastAttempt;
    std::optional<std::int64_t> lastSuccess;
    std::int64_t failures = 0;
    std::optional<std::int64_t> nextAttempt;
    std::string lastError;
    std::string hookError;  // the last run's hook failure, empty when it worked
  };
  // "Not found" when the type has none; Remove* too when there was none.
  ozo::result_t GetRenewalConfig(std::uint32_t type, RenewalConfig& config);
  ozo::result_t PutRenewalConfig(std::uint32_t type, const RenewalConfig& config);
  ozo::result_t RemoveRenewalConfig(std::uint32_t type);
  ozo::result_t GetRenewalState(std::uint32_t type, RenewalState& state);
  ozo::result_t PutRenewalState(std::uint32_t type, const RenewalState& state);
  // Every type's, by type (none from a store of an older schema).
  ozo::result_t RenewalConfigs(std::map<std::uint32_t, RenewalConfig>& configs);
  ozo::result_t RenewalStates(std::map<std::uint32_t, RenewalState>& states);

  // A consistent copy of the whole store in a new file at `path`: one
  // snapshot of the committed store (other processes may write meanwhile),
  // in rollback-journal mode, written owner-only beside `path` and renamed
  // over it once complete and synced, so `path` holds the old file or the
  // whole copy, never part of one. A symbolic link at `path` is replaced,
  // not followed; one another user owns is refused ("Access denied", see
  // UntrustedOutputLink). The temporary file is locked while it is
  // written; one that a killed backup left beside `path` (unlocked, this
  // user's) is removed by the next backup to `path`.
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
  // on any failure.
  ozo::result_t RestoreFrom(SqliteStore& source, std::string& error);
  // The same from the store at `path`, opened as Import.
  ozo::result_t RestoreFrom(const std::string& path, std::string& error);

  // The first SQLite failure since the store opened or the current unit of
  // work began, as "<SQLite's message>", or empty.
  std::string FirstFailure();
  // The connection's last SQLite error text, for messages.
  std::string LastError();

  // The connection, for a host that inspects the database itself.
  sqlite3* db() const noexcept { return m_db; }
  // The result code of an SQLite code: "Locked", "Access denied", "Out of
  // space", "Bases corrupted", "Media error", "Out of memory", "File too big".
  static ozo::result_t ResultOf(int code) noexcept;

 protected:
  ~SqliteStore() override;

 private:
  friend class SqliteNode;

  SqliteStore(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}

  // Records the first failure and maps the SQLite code to a result.
  ozo::result_t Fail(int code);
  // One row of a per-type table, its columns besides its type named by
  // `columns`, read and written by the overloads in sqlite_renewals.cpp.
  template <class Record>
  ozo::result_t GetRow(const char* table, const char* columns, std::uint32_t type, Record& record);
  template <class Record>
  ozo::result_t PutRow(const char* table, const char* columns, std::uint32_t type, const Record& record);
  template <class Record>
  ozo::result_t AllRows(const char* table, const char* columns, std::map<std::uint32_t, Record>& records);
  // A failure when the unit of work has been rolled back under its feet.
  ozo::result_t Usable();
  // Runs `body` (one call's statements) in a savepoint: atomic inside or
  // outside a unit of work, and outside a unit its success is the commit's.
  ozo::result_t Atomically(const std::function<ozo::result_t()>& body);

  sqlite3* m_db;
  std::string m_path;
  std::recursive_mutex m_mutex;
  bool m_inWork = false;
  int m_failure = SQLITE_OK;
  std::string m_failureText;
  std::uint64_t m_eventLimit = kDefaultEventLimit;
  // What a reader reads instead of the store after a writer died (see
  // sqlite_private_copy.h); removed after the connection is closed.
  std::unique_ptr<sqlite::PrivateCopy> m_copy;
};

}  // namespace host
