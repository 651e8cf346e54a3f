// The commands that look after a store as a whole: the upgrade from an older
// store, backup and restore, and the repair of records the component cannot
// use.
#include <iostream>
#include <optional>
#include <variant>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/inventory.h"
#include "tools/certctl/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

namespace {

// A slot's record as it was before an operation, to put back.
struct SavedSlot {
  ivo::CertificateType type;
  bool client;
  std::variant<std::monostate, ivo::ServerCertificate, ivo::ClientCertificate> record;
};

SavedSlot Save(host::ServiceHost& host, ivo::CertificateType type, bool client) {
  SavedSlot saved{type, client, {}};
  if (client) {
    ivo::ClientCertificate record;
    if (ozo::Succeeded(host.ReadRecord(type, record))) saved.record = std::move(record);
  } else {
    ivo::ServerCertificate record;
    if (ozo::Succeeded(host.ReadRecord(type, record))) saved.record = std::move(record);
  }
  return saved;
}

result_t PutBack(host::ServiceHost& host, const SavedSlot& saved) {
  if (const auto* server = std::get_if<ivo::ServerCertificate>(&saved.record))
    return host.WriteRecord(saved.type, *server);
  if (const auto* client = std::get_if<ivo::ClientCertificate>(&saved.record))
    return host.WriteRecord(saved.type, *client);
  const result_t removed = host.RemoveRecord(saved.type, saved.client);
  return removed == results::NotFound ? results::NoError : removed;
}

bool HoldsClients(host::ServiceHost& host) {
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    ivo::ClientCertificate record;
    if (host.ReadRecord(type, record) != results::NotFound) return true;
  }
  return false;
}

// A host over a store that is only read: its tree when it has one.
std::unique_ptr<host::ServiceHost> ReadingHost(const ozo::ref_ptr<host::SqliteStore>& store) {
  ozo::ref_ptr<ozo::IStorage> tree;
  if (store->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()) == results::NotFound) return nullptr;
  host::HostOptions options;
  options.store = store;
  options.traceThreshold = 0;
  return std::make_unique<host::ServiceHost>(std::move(options));
}

// Opens a store given as data (an old store, a backup), checked whole, to
// read; throws Failure with
// `exitCode` and `refusal` before the reason.
ozo::ref_ptr<host::SqliteStore> OpenToRead(const std::string& path, int exitCode, const std::string& refusal) {
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  const result_t opened = host::SqliteStore::Open(path, host::SqliteStore::Mode::Import, store, error);
  if (ozo::Failed(opened)) throw Failure(exitCode, refusal + error, opened);
  return store;
}

}  // namespace

// The old store's records are copied into this one. A type and kind that both
// hold takes the old store's record: the upgrade carries the previous
// installation's certificates over, and says which slots it replaced. A
// record the component cannot use (one that keeps it from starting, or that
// it cannot decode) is not copied: its slot keeps what this store held, and
// the tool names it and says why.
int Upgrade(const Invocation& invocation) {
  const std::string from = invocation.Value("--from");
  const ozo::ref_ptr<host::SqliteStore> old = OpenToRead(from, kExitStore, "the old store cannot be used: ");
  const std::unique_ptr<host::ServiceHost> oldHost = ReadingHost(old);
  Session session(invocation.options, oldHost && HoldsClients(*oldHost) ? Access::WriteSecrets : Access::Write);
  const std::vector<StoredCertificate> incoming =
      oldHost ? ReadInventory(*oldHost, session.component(), session.trace()) : std::vector<StoredCertificate>();
  std::vector<std::string> present;
  for (const StoredCertificate& stored : ReadInventory(session)) present.push_back(stored.slot());
  std::vector<SavedSlot> kept;
  for (const StoredCertificate& stored : incoming)
    if (!stored.problem.empty()) kept.push_back(Save(session.host(), stored.type, stored.client));

  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const result_t created =
      session.component().Create(app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader,
                                 session.host().locatorAddress(), upgrader);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the upgrader: " + DescribeResult(created), created);
  const result_t result = upgrader->Upgrade(old.get(), &session.store());
  upgrader.Reset();
  if (const std::string failure = old->FirstFailure(); !failure.empty())
    throw Failure(kExitStore, "the old store cannot be used: " + failure, result);
  const Outcome outcome = Report(session, result, "", "the old store has no certificates");
  for (const SavedSlot& saved : kept) {
    const result_t restored = PutBack(session.host(), saved);
    session.ThrowIfStoreFailed(restored);
    if (ozo::Failed(restored))
      throw Failure(kExitFailed, "cannot keep a record out of the upgrade: " + DescribeResult(restored), restored);
  }
  session.Commit();
  if (outcome.status != kExitOk) {
    Announce(invocation, outcome.message);
    return outcome.status;
  }
  Json json = {{"from", from}, {"copied", Json::array()}, {"replaced", Json::array()}, {"skipped", Json::array()}};
  for (const StoredCertificate& stored : incoming) {
    if (!stored.problem.empty()) {
      json["skipped"].push_back({{"slot", stored.slot()}, {"reason", stored.problem}});
      std::cerr << "certctl: " << stored.slot() << " record not copied: it " << stored.problem << "\n";
      continue;
    }
    const bool replaced = std::find(present.begin(), present.end(), stored.slot()) != present.end();
    json[replaced ? "replaced" : "copied"].push_back(stored.slot());
    Announce(invocation, stored.slot() + " certificate " + (replaced ? "copied, replacing the one stored" : "copied"));
  }
  Announce(invocation, "certificates copied from " + from);
  if (invocation.options.json) PrintJson(json);
  return kExitOk;
}

int Backup(const Invocation& invocation) {
  const std::string& file = invocation.Argument(0);
  Session session(invocation.options, Access::Read);
  std::string error;
  const result_t written = session.store().BackupTo(file, error);
  if (ozo::Failed(written)) throw Failure(kExitStore, "no backup written: " + error, written);
  Announce(invocation, "store " + session.path() + " backed up to " + file);
  return kExitOk;
}

// Replaces the whole store with a backup, in one transaction of the store's
// own: no unit of work and no component, and a store that group or others
// can read takes no backup that holds client certificates.
int Restore(const Invocation& invocation) {
  const std::string& file = invocation.Argument(0);
  const ozo::ref_ptr<host::SqliteStore> backup = OpenToRead(file, kExitUsage, "nothing was restored: ");
  const std::unique_ptr<host::ServiceHost> backupHost = ReadingHost(backup);
  const StoreLocation location = LocateStore(invocation.options.store);
  MakeDefaultFolder(location);
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  result_t result = host::SqliteStore::Open(location.path, host::SqliteStore::Mode::ReadWrite, store, error);
  if (ozo::Failed(result)) throw Failure(kExitStore, "the store cannot be used: " + error, result);
  if (const std::string exposure = ExposureOf(location.path);
      !exposure.empty() && backupHost && HoldsClients(*backupHost))
    throw Failure(kExitStore,
                  "no client certificate is stored where others can read it: " + exposure + ", then try again",
                  results::AccessDenied);
  result = store->RestoreFrom(file, error);
  if (ozo::Failed(result)) throw Failure(kExitStore, "nothing was restored: " + error, result);
  Announce(invocation, "store " + location.path + " restored from " + file);
  return kExitOk;
}

// Removes the records the component cannot use: those that keep it from
// starting and those it cannot decode. Every other record stays as it is.
// Each removal is journalled as the slot's "removed" event, by the user; the
// policy is not asked (this is upkeep of the store, not a change of a
// certificate).
int Repair(const Invocation& invocation) {
  const std::string typeText = invocation.Value("--type"), kindText = invocation.Value("--kind");
  const ivo::CertificateType type = typeText.empty() ? 0 : ParseType(typeText);
  const std::string kind = kindText.empty() ? "" : ParseKind(kindText) ? "client" : "server";
  Session session(invocation.options, Access::Write);
  std::vector<std::string> removed;
  for (const StoredCertificate& stored : ReadInventory(session)) {
    if (stored.problem.empty() || (type && stored.type != type) || (!kind.empty() && kind != stored.kind())) continue;
    const result_t result = session.host().RemoveRecord(stored.type, stored.client);
    session.ThrowIfStoreFailed(result);
    if (ozo::Failed(result))
      throw Failure(kExitFailed, "cannot remove the " + stored.slot() + " record: " + DescribeResult(result), result);
    JournalRemoval(session, stored.type, stored.client, UserInitiator());
    removed.push_back("removed the " + stored.slot() + " record: it " + stored.problem);
  }
  session.Commit();
  for (const std::string& line : removed) Announce(invocation, line);
  if (removed.empty()) Announce(invocation, "nothing to repair: the component can use every stored record");
  return removed.empty() ? kExitFalse : kExitOk;
}

}  // namespace certctl
