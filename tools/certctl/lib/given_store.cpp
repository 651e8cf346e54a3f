#include "tools/certctl/lib/given_store.h"

#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/failure.h"

namespace certctl {

ozo::ref_ptr<host::SqliteStore> OpenGivenStore(const std::string& path, int exitCode, const std::string& refusal) {
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  const ozo::result_t opened = host::SqliteStore::Open(path, host::SqliteStore::Mode::Import, store, error);
  if (ozo::Failed(opened)) throw Failure(exitCode, refusal + error, opened);
  return store;
}

std::unique_ptr<host::ServiceHost> ReadingHost(const ozo::ref_ptr<host::SqliteStore>& store) {
  ozo::ref_ptr<ozo::IStorage> tree;
  if (store->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()) == ozo::results::NotFound) return nullptr;
  host::HostOptions options;
  options.store = store;
  options.traceThreshold = 0;
  return std::make_unique<host::ServiceHost>(std::move(options));
}

bool HoldsClients(host::ServiceHost& host) {
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    ivo::ClientCertificate record;
    if (host.ReadRecord(type, record) != ozo::results::NotFound) return true;
  }
  return false;
}

}  // namespace certctl
