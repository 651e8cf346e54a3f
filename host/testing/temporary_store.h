// A store on a temporary SQLite file, the reference host's services over it
// and the manager the module makes over them: where a test of a host's
// lifecycle starts, with the doubles beside it.
#pragma once

#include <memory>
#include <string>

#include "host/lifecycle/store.h"
#include "host/module.h"
#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"

namespace host::testing {

// The folder (owner-only, under $TMPDIR or /tmp) goes with all in it when
// this object goes. Not thread-safe, not copyable; the manager and the
// store may be handed to any thread as the host guide says.
class TemporaryStore {
 public:
  // The manager from a loaded module, or from ozoCreateObject linked in.
  explicit TemporaryStore(const Module& module);
  explicit TemporaryStore(ozoCreateObjectFn create);
  ~TemporaryStore();
  TemporaryStore(const TemporaryStore&) = delete;
  TemporaryStore& operator=(const TemporaryStore&) = delete;

  // Why the store or the manager could not be made; empty when both are
  // there (only then may the accessors below be used).
  const std::string& error() const { return m_error; }
  const std::string& path() const { return m_path; }  // the store's file
  SqliteStore& store() { return *m_store; }
  ServiceHost& services() { return *m_services; }
  ivo::ICertificatesManager& manager() { return *m_manager; }
  // The lifecycle's tables of the store.
  lifecycle::LifecycleStore& lifecycle() { return *m_lifecycle; }

 private:
  template <class Create>
  void Make(const Create& create);

  std::string m_folder, m_path, m_error;
  ozo::ref_ptr<SqliteStore> m_store;
  std::unique_ptr<ServiceHost> m_services;
  ozo::ref_ptr<ivo::ICertificatesManager> m_manager;
  std::unique_ptr<lifecycle::SqliteLifecycleStore> m_lifecycle;
};

}  // namespace host::testing
