// One run of the tool as a host: the store, the services over it, the
// component and one unit of work.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "tools/certctl/component.h"

namespace certctl {

struct Options {
  std::string store;
  std::string library;
  bool json = false;
  std::uint32_t traceLevel = 0;  // 0: no trace
  std::string logFile;           // trace destination; stderr when empty
};

// Opens the store and makes the whole run one unit of work: every change the
// component makes becomes durable at Finish(true) and not at all otherwise
// (also when the process dies first). Events are kept in the store, in the
// same unit; the policy's locks come from the store.
class Session {
 public:
  // The store file's path after defaults: --store, $CERTCTL_STORE, else
  // ~/.local/share/certctl/certificates.db.
  static std::string StorePath(const std::string& option);

  // Throws std::runtime_error with one line of explanation on failure; its
  // exit code is in `failureCode`.
  Session(const Options& options, bool writes);
  ~Session();

  host::ServiceHost& host() { return *m_host; }
  host::SqliteStore& store() { return *m_store; }
  const Component& component() const { return m_component; }

  // Creates the manager (its start-up check runs now).
  ozo::result_t CreateManager(ozo::ref_ptr<ivo::ICertificatesManager>& manager);
  // Commits (keep) or rolls back the unit of work.
  ozo::result_t Finish(bool keep);

 private:
  ozo::ref_ptr<host::SqliteStore> m_store;
  std::unique_ptr<host::ServiceHost> m_host;
  Component m_component;
  std::FILE* m_log = nullptr;
  bool m_open = false;
};

// Sets up the host's tracer: records up to `level` go to `log` with a UTC
// timestamp, one line each; nothing is kept in memory.
void RouteTrace(host::Tracer& tracer, std::uint32_t level, std::FILE* log);

}  // namespace certctl
