#include "host/testing/temporary_store.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "host/status.h"

namespace host::testing {

template <class Create>
void TemporaryStore::Make(const Create& create) {
  const char* root = std::getenv("TMPDIR");
  std::string pattern = std::string(root && *root ? root : "/tmp") + "/certificates-manager-test.XXXXXX";
  std::vector<char> folder(pattern.begin(), pattern.end());
  folder.push_back('\0');
  if (!::mkdtemp(folder.data())) {  // owner-only, as every store's folder must be
    m_error = "cannot make a temporary folder under " + pattern;
    return;
  }
  m_folder = folder.data();
  m_path = m_folder + "/store.db";
  if (ozo::Failed(SqliteStore::Open(m_path, SqliteStore::Mode::ReadWrite, m_store, m_error))) return;
  HostOptions options;
  options.store = m_store;
  m_services = std::make_unique<ServiceHost>(std::move(options));
  if (const ozo::result_t made = create(m_services->locatorAddress(), m_manager); ozo::Failed(made)) {
    m_error = "the module made no manager: " + ResultText(made);
    return;
  }
  m_lifecycle = std::make_unique<lifecycle::SqliteLifecycleStore>(*m_store);
}

TemporaryStore::TemporaryStore(const Module& module) {
  Make([&module](ozo::IServiceLocator** locator, ozo::ref_ptr<ivo::ICertificatesManager>& manager) {
    return module.Create(ivo::ClsIdCertificatesManager, locator, manager);
  });
}

TemporaryStore::TemporaryStore(ozoCreateObjectFn create) {
  Make([create](ozo::IServiceLocator** locator, ozo::ref_ptr<ivo::ICertificatesManager>& manager) {
    ozo::ref_ptr<ozo::IObject> object;
    const ozo::result_t made = create(ivo::ClsIdCertificatesManager, locator, object.Ref());
    return ozo::Succeeded(made) ? ozo::QueryInterface(object.get(), manager) : made;
  });
}

TemporaryStore::~TemporaryStore() {
  if (m_store) m_store->RollbackWork();  // a unit a failed test left open
  m_lifecycle.reset();
  m_manager.Reset();
  m_services.reset();
  m_store.Reset();
  std::error_code ignored;
  if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
}

}  // namespace host::testing
