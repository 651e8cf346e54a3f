// A session for the lifecycle library's calls: the store opened for
// secrets, the component started (its start-up's events committed), and the
// library's seams as certctl sets them: the TLS trial, the CMP CA, the hook
// with CERTCTL_STORE naming the store. The library opens and commits its own
// units of work.
#pragma once

#include "host/lifecycle/cmp_authority.h"
#include "host/lifecycle/renewal.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

class LifecycleRun {
 public:
  // `access`: Read for a dry run, which opens the store read-only and
  // creates nothing.
  explicit LifecycleRun(const RunOptions& global, double hookTimeoutSeconds = host::lifecycle::kDefaultHookSeconds,
                        Access access = Access::WriteSecrets);
  LifecycleRun(const LifecycleRun&) = delete;
  LifecycleRun& operator=(const LifecycleRun&) = delete;

  Session& session() { return m_session; }
  ivo::ICertificatesManager& manager() { return *m_manager; }
  host::lifecycle::RenewalDependencies& with() { return m_with; }
  host::lifecycle::LifecycleStore& store() { return m_store; }

 private:
  Session m_session;
  ozo::ref_ptr<ivo::ICertificatesManager> m_manager;
  host::lifecycle::SqliteLifecycleStore m_store;
  host::lifecycle::CmpAuthority m_ca;
  host::lifecycle::RenewalDependencies m_with;
};

// Throws Failure (kExitStore) when `status` is a failure of the store itself.
void ThrowIfStoreFailed(const host::Status& status);

}  // namespace certctl
