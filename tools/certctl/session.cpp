#include "tools/certctl/session.h"

#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <stdexcept>

#include "tools/certctl/errors.h"

namespace certctl {

std::string Session::StorePath(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("CERTCTL_STORE"); env && *env) return env;
  const char* home = std::getenv("HOME");
  const std::string dir = std::string(home && *home ? home : ".") + "/.local/share/certctl";
  std::system(("mkdir -p '" + dir + "'").c_str());
  return dir + "/certificates.db";
}

void RouteTrace(host::Tracer& tracer, std::uint32_t level, std::FILE* log) {
  tracer.SetThreshold(level);
  tracer.SetSink([log](std::uint32_t recordLevel, const std::string& text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &utc);
    std::fprintf(log, "%s.%03lldZ [%u] %s\n", stamp, static_cast<long long>(millis), recordLevel, text.c_str());
  });
}

Session::Session(const Options& options, bool writes) {
  const std::string path = StorePath(options.store);
  std::string error;
  ozo::result_t result = host::SqliteStore::Open(path, host::SqliteStore::Mode::ReadWrite, m_store, error);
  if (result == ozo::results::AccessDenied || result == ozo::results::FileNotFound) {
    if (!writes) result = host::SqliteStore::Open(path, host::SqliteStore::Mode::ReadOnly, m_store, error);
  }
  if (ozo::Failed(result)) throw Failure(kExitStore, "cannot open the store " + error, result);

  std::string library;
  if (!m_component.Load(LibraryPath(options.library), library))
    throw Failure(kExitStore, "cannot load the certificates manager: " + library, ozo::results::FileNotFound);

  host::HostOptions hostOptions;
  hostOptions.store = m_store;
  hostOptions.traceThreshold = 0;
  if (writes) {
    result = m_store->BeginWork();
    if (ozo::Failed(result))
      throw Failure(kExitStore, "the store is busy or read-only: " + m_store->LastError(), result);
    m_open = true;
  }
  try {
    m_host = std::make_unique<host::ServiceHost>(std::move(hostOptions));
  } catch (const std::exception& e) {
    throw Failure(kExitStore, std::string("cannot set up the store: ") + e.what(), ozo::results::AccessDenied);
  }
  if (!options.logFile.empty()) {
    m_log = std::fopen(options.logFile.c_str(), "a");
    if (!m_log) throw Failure(kExitUsage, "cannot open the log file " + options.logFile, ozo::results::AccessDenied);
  }
  RouteTrace(m_host->tracer(), options.traceLevel, m_log ? m_log : stderr);
  for (std::uint32_t setting : m_store->LockedSettings()) m_host->policy().SetSettingLocked(setting, true);
  host::SqliteStore* store = m_store.get();
  m_host->events().SetSink([store](const ivo::CertificateEvent& event) { store->AppendEvent(event); });
}

Session::~Session() {
  if (m_open) m_store->RollbackWork();
  m_host.reset();
  if (m_log) std::fclose(m_log);
}

ozo::result_t Session::CreateManager(ozo::ref_ptr<ivo::ICertificatesManager>& manager) {
  return m_component.Create(ivo::ClsIdCertificatesManager, *m_host, manager);
}

ozo::result_t Session::Finish(bool keep) {
  if (!m_open) return ozo::results::NoError;
  m_open = false;
  return keep ? m_store->CommitWork() : m_store->RollbackWork();
}

}  // namespace certctl
