// A persistent store in one SQLite database file: the storage trees of every
// class id, plus the reference host's policy locks and published events.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/fault_injector.h"
#include "host/host_object.h"
#include "ivo/events.h"
#include "ozo/storage.h"

namespace host {

// Durability: the database runs in WAL mode with synchronous=FULL. Every
// storage call is its own transaction unless the host has opened a unit of
// work (BeginWork), which then holds every call until CommitWork (or
// RollbackWork). A host that makes each component operation one unit gets an
// all-or-nothing store: a process killed at any point leaves every record as
// it was before that operation or as it is after it. Flush adds nothing:
// whatever is committed is already on disk.
//
// Names under one node are unique keys: AppendNode replaces a child of the
// same name. Children and values keep their insertion order. A missing child
// is "Path not found", a missing value "Not found". SQLite failures map to
// result codes (busy: "Locked"; read-only: "Access denied"; full disk: "Out of
// space"; not a database: "Bases corrupted"; I/O: "Media error").
//
// Thread-safe: one connection per store, guarded by the store's mutex.
class SqliteStore : public HostObject<ozo::IPersistentStorage> {
 public:
  enum class Mode { ReadWrite, ReadOnly };

  // Opens (creating when ReadWrite) the database at `path`; on failure
  // `error` tells why in one line.
  static ozo::result_t Open(const std::string& path, Mode mode, ozo::ref_ptr<SqliteStore>& store, std::string& error,
                            std::shared_ptr<FaultInjector> faults = std::make_shared<FaultInjector>());

  ozo::result_t GetStoragesCount(std::uint32_t& count) override;
  ozo::result_t GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) override;
  ozo::result_t CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) override;
  ozo::result_t RemoveStorage(ozo::clsid_t classId) override;
  ozo::result_t Flush() override;
  ozo::result_t GetPath(ozo::string8_t& path) override;
  ozo::result_t GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) override;

  // Units of work: BEGIN IMMEDIATE (waits up to the busy timeout for other
  // writers), COMMIT, ROLLBACK.
  ozo::result_t BeginWork();
  ozo::result_t CommitWork();
  ozo::result_t RollbackWork();

  // Settings the policy locks against local change.
  std::set<std::uint32_t> LockedSettings();
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked);

  // Published events, oldest first.
  ozo::result_t AppendEvent(const ivo::CertificateEvent& event);
  std::vector<ivo::CertificateEvent> Events();

  // The last SQLite error text, for messages.
  std::string LastError();

  // Used by the store's nodes.
  sqlite3* db() const noexcept { return m_db; }
  std::recursive_mutex& mutex() noexcept { return m_mutex; }
  FaultInjector& faults() noexcept { return *m_faults; }
  ozo::result_t ResultOf(int code) const noexcept;

 protected:
  ~SqliteStore() override;

 private:
  SqliteStore(sqlite3* db, std::string path, std::shared_ptr<FaultInjector> faults)
      : m_db(db), m_path(std::move(path)), m_faults(std::move(faults)) {}

  sqlite3* m_db;
  std::string m_path;
  std::shared_ptr<FaultInjector> m_faults;
  std::recursive_mutex m_mutex;
};

}  // namespace host
