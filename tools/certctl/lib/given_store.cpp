#include "tools/certctl/lib/given_store.h"

#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/files.h"

namespace certctl {

ozo::ref_ptr<host::SqliteStore> OpenGivenStore(const std::string& path, int exitCode, const std::string& refusal) {
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  const ozo::result_t opened = host::SqliteStore::Open(path, host::SqliteStore::Mode::Import, store, error);
  if (ozo::Failed(opened)) throw Failure(exitCode, refusal + error, opened);
  return store;
}

ozo::ref_ptr<host::SqliteStore> OpenStreamedStore(int exitCode, const std::string& refusal) {
  std::string bytes;
  const long total = ReadBounded(STDIN_FILENO, kMaxStreamedStoreBytes, [&bytes](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  });
  if (total < 0) throw Failure(exitCode, refusal + "cannot read standard input: " + std::strerror(errno));
  if (static_cast<std::size_t>(total) > kMaxStreamedStoreBytes)
    throw Failure(exitCode, refusal + "standard input holds more than " + SizeText(kMaxStreamedStoreBytes) +
                                ", more than any store");
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  const ozo::result_t opened = host::SqliteStore::OpenImage("standard input", bytes, store, error);
  ::explicit_bzero(bytes.data(), bytes.size());  // a backup holds secrets
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
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    ivo::ClientCertificate record;
    if (host.ReadRecord(type, record) != ozo::results::NotFound) return true;
  }
  return false;
}

}  // namespace certctl
