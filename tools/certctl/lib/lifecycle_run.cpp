#include "tools/certctl/lib/lifecycle_run.h"

#include "tools/certctl/lib/manager_run.h"

namespace certctl {

LifecycleRun::LifecycleRun(const RunOptions& global, double hookTimeoutSeconds, Access access)
    : m_session(global, access),
      m_manager(StartManager(m_session)),
      m_store(m_session.store()),
      m_with(m_store, *m_manager, m_ca) {
  m_session.Commit();  // the component's start; the library's calls make their own units
  m_with.hookVariables = {{"CERTCTL_STORE", m_session.path()}};  // certctl in the hook works on this store
  m_with.hookTimeoutSeconds = hookTimeoutSeconds;
}

void ThrowIfStoreFailed(const host::Status& status) {
  if (status.storeFailed()) throw Failure(kExitStore, status.words(), status.code());
}

}  // namespace certctl
