#include "tools/certctl/lib/session.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <set>
#include <stdexcept>

#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/library_path.h"

namespace certctl {
namespace {

// Why the store failed: its first failure in this run, else its last error.
std::string Reason(host::SqliteStore& store) {
  const std::string first = store.FirstFailure();
  return first.empty() ? store.LastError() : first;
}

}  // namespace

std::string ExposureOf(const std::string& path) {
  struct stat about {};
  if (::stat(path.c_str(), &about) != 0 || (about.st_mode & (S_IRGRP | S_IROTH)) == 0) return "";
  char mode[8];
  std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(about.st_mode & 07777));
  return path + " can be read by group or others (mode " + mode + "): chmod 600 " + path;
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

Failure SecretsRefusal(const std::string& exposure) {
  return Failure(kExitStore,
                 "no client certificate is stored where others can read it: " + exposure + ", then try again",
                 ozo::results::AccessDenied);
}

void ThrowIfStoreFailed(host::SqliteStore* store, ozo::result_t result) {
  const std::string failure = store ? store->FirstFailure() : "";
  if (!failure.empty())
    throw Failure(kExitStore, "the store cannot be used: " + failure,
                  ozo::Failed(result) ? result : ozo::results::MediaError);
}

Session::Session(const RunOptions& options, Access access, bool quiet)
    : m_library(options.library), m_location(LocateStore(options.store)) {
  const bool writes = access != Access::Read;
  if (writes) MakeDefaultFolder(m_location);
  std::string error;
  const ozo::result_t opened = host::SqliteStore::Open(
      path(), writes ? host::SqliteStore::Mode::ReadWrite : host::SqliteStore::Mode::ReadOnly, m_store, error);
  if (opened == ozo::results::NotFound) throw Failure(kExitStore, error, opened);  // "no store at PATH"
  if (ozo::Failed(opened)) throw Failure(kExitStore, "the store cannot be used: " + error, opened);
  m_exposure = ExposureOf(path());
  if (!m_exposure.empty() && access == Access::WriteSecrets) throw SecretsRefusal(m_exposure);
  if (!m_exposure.empty() && !quiet) PrintFailure("warning: " + m_exposure);

  if (writes) Begin();
  host::HostOptions hostOptions;
  // A session that only reads changes nothing, its start-up check's events
  // included: it may run on a store this user may only read, and as often as
  // monitoring wants. In a writing session an event that cannot be kept
  // fails a statement of the unit, which the store then refuses to commit:
  // the change goes with its event or not at all.
  hostOptions.journalEventsInStore = writes;
  // A store read before anything was ever set in it has no tree; a reader
  // cannot make one, and an empty tree in memory is exactly what it holds.
  ozo::ref_ptr<ozo::IStorage> tree;
  if (writes || m_store->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()) != ozo::results::NotFound)
    hostOptions.store = m_store;
  hostOptions.traceThreshold = 0;
  try {
    m_host = std::make_unique<host::ServiceHost>(std::move(hostOptions));
  } catch (const std::exception& e) {
    throw Failure(kExitStore, std::string("the store cannot be used: ") + e.what(), ozo::results::AccessDenied);
  }
  if (!options.logFile.empty()) {
    m_log = std::fopen(options.logFile.c_str(), "a");
    if (!m_log) throw Failure(kExitUsage, "cannot open the log file " + options.logFile, ozo::results::AccessDenied);
  }
  m_trace = {options.traceLevel, m_log ? m_log : stderr};
  RouteTrace(m_host->tracer(), m_trace.level, m_trace.log);
}

Session::~Session() {
  if (m_open) m_store->RollbackWork();
  m_host.reset();
  if (m_log) std::fclose(m_log);
}

const host::Module& Session::component() {
  std::string error;
  if (!m_component.loaded() && !m_component.Load(LibraryPath(m_library), error))
    throw Failure(kExitStore, "cannot load the certificates manager: " + error, ozo::results::FileNotFound);
  return m_component;
}

ozo::result_t Session::CreateManager(ozo::ref_ptr<ivo::ICertificatesManager>& manager) {
  return component().Create(ivo::ClsIdCertificatesManager, m_host->locatorAddress(), manager);
}

void Session::Commit() {
  if (!m_open) return;
  m_open = false;
  const ozo::result_t committed = m_store->CommitWork();
  if (ozo::Failed(committed))
    throw Failure(kExitStore, "nothing was stored: cannot commit to the store: " + Reason(*m_store), committed);
}

void Session::Begin() {
  if (m_open) return;
  const ozo::result_t begun = m_store->BeginWork();
  if (ozo::Failed(begun))
    throw Failure(kExitStore, "the store cannot be used: " + m_store->LastError() + " (" + path() + ")", begun);
  m_open = true;
}

std::string Session::StoreFailure() const { return m_store->FirstFailure(); }

}  // namespace certctl
