// One run of the tool as a host: the store, the services over it, the
// component and one unit of work.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/module.h"
#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/store_path.h"

namespace certctl {

// What of the options every command takes a run works with (the command
// line's RunOptions add the help and the version).
struct RunOptions {
  std::string store;
  std::string library;
  bool json = false;
  std::uint32_t traceLevel = 0;  // 0: no trace
  std::string logFile;           // trace destination; stderr when empty
};

// Where the component's trace goes: records up to `level` into `log`.
struct TraceRoute {
  std::uint32_t level = 0;
  std::FILE* log = stderr;
};

// "PATH can be read by group or others (mode 0644): chmod 600 PATH" when the
// file's mode lets anyone but its owner read it, else empty.
std::string ExposureOf(const std::string& path);
// The refusal of client certificates for a store with that exposure
// (kExitStore, "Access denied").
Failure SecretsRefusal(const std::string& exposure);

// Throws Failure (kExitStore, "the store cannot be used: ...", carrying
// `result` when it is a failure) when `store` has failed since it opened or
// its unit of work began; a null store never has.
void ThrowIfStoreFailed(host::SqliteStore* store, ozo::result_t result);

enum class Access {
  Read,          // opens the store read-only: creates nothing, changes nothing
  Write,         // one unit of work, kept only by Commit()
  WriteSecrets,  // Write, refused on a store that group or others can read
};

// Opens the store and makes the whole run one unit of work: every change the
// component makes becomes durable at Commit() and not at all otherwise (also
// when the process dies first, or when the session ends without a commit).
// Events are kept in the store, in the same unit: a change whose event could
// not be kept is not committed; a session opened only to read keeps none,
// and works on a store this user may only read. The policy's locks come from
// the store.
class Session {
 public:
  // Throws Failure with one line of explanation: kExitStore when the store
  // or the library cannot be used ("no store at PATH" for a read; a store
  // opened for writing that this user may only read; another application's
  // database; secrets for a store others can read), kExitUsage when no store
  // is named and there is no default. A store that group or others can read
  // is reported on stderr unless `quiet`.
  Session(const RunOptions& options, Access access, bool quiet = false);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& path() const { return m_location.path; }
  // "PATH can be read by group or others (mode 0644): chmod 600 PATH", or
  // empty for an owner-only store.
  const std::string& exposure() const { return m_exposure; }
  host::ServiceHost& host() { return *m_host; }
  host::SqliteStore& store() { return *m_store; }
  // The component, loaded on first use: a command that only reads the store
  // never loads it. Throws Failure (kExitStore) when it cannot be loaded.
  const host::Module& component();
  TraceRoute trace() const { return m_trace; }

  // Creates the manager (its start-up check runs now).
  ozo::result_t CreateManager(ozo::ref_ptr<ivo::ICertificatesManager>& manager);
  // Makes the run's changes durable; throws Failure (kExitStore) when they
  // cannot be, and then nothing of the run is kept. Without a commit the
  // session rolls back when it ends.
  void Commit();
  // Starts another unit of work after Commit(), for a command that waits
  // between its changes (a network exchange) and holds no lock meanwhile.
  // Throws Failure (kExitStore) when the store cannot be written now.
  void Begin();
  // The store's first failure in this run, empty when it has not failed:
  // a component failure with this text was caused by the store.
  std::string StoreFailure() const;
  // Throws Failure (kExitStore, carrying `result` when it is a failure) when
  // the store has failed in this run: the store, not the component, refused.
  void ThrowIfStoreFailed(ozo::result_t result) const { certctl::ThrowIfStoreFailed(m_store.get(), result); }

 private:
  std::string m_library;  // as given; loaded by component()
  StoreLocation m_location;
  std::string m_exposure;
  ozo::ref_ptr<host::SqliteStore> m_store;
  std::unique_ptr<host::ServiceHost> m_host;
  host::Module m_component;
  std::FILE* m_log = nullptr;
  TraceRoute m_trace;
  bool m_open = false;
};

// Sets up the host's tracer: records up to `level` go to `log` with a UTC
// timestamp, one line each; nothing is kept in memory.
void RouteTrace(host::Tracer& tracer, std::uint32_t level, std::FILE* log);

}  // namespace certctl
