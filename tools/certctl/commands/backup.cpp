// backup and restore: the whole store, copied out and back in.
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/given_store.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

struct Arguments {
  OutputFile file;
};

int BackupTo(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& file = arguments.file.path;
  Session session(global, Access::Read);
  std::string error;
  const result_t written = session.store().BackupTo(file, error);
  if (ozo::Failed(written)) throw Failure(kExitStore, "no backup written: " + error, written);
  Announce(global, "store " + session.path() + " backed up to " + file);
  return kExitOk;
}

// Replaces the whole store with a backup, in one transaction of the store's
// own: no unit of work and no component, and a store that group or others
// can read takes no backup that holds client certificates.
int RestoreFrom(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& file = arguments.file.path;
  const ozo::ref_ptr<host::SqliteStore> backup = OpenGivenStore(file, kExitUsage, "nothing was restored: ");
  const std::unique_ptr<host::ServiceHost> backupHost = ReadingHost(backup);
  const StoreLocation location = LocateStore(global.store);
  MakeDefaultFolder(location);
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  result_t result = host::SqliteStore::Open(location.path, host::SqliteStore::Mode::ReadWrite, store, error);
  if (ozo::Failed(result)) throw Failure(kExitStore, "the store cannot be used: " + error, result);
  if (const std::string exposure = ExposureOf(location.path);
      !exposure.empty() && backupHost && HoldsClients(*backupHost))
    throw SecretsRefusal(exposure);
  result = store->RestoreFrom(file, error);
  if (ozo::Failed(result)) throw Failure(kExitStore, "nothing was restored: " + error, result);
  Announce(global, "store " + location.path + " restored from " + file);
  return kExitOk;
}

}  // namespace

Command Backup() {
  return Define<Arguments>("backup", "a consistent, owner-only copy of the store", {Operand(&Arguments::file, "FILE")},
                           {}, BackupTo);
}

Command Restore() {
  return Define<Arguments>("restore", "replace the store with a backup", {Operand(&Arguments::file, "FILE")}, {},
                           RestoreFrom);
}

}  // namespace certctl::commands
