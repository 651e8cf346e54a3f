// upgrade: the certificates of an older store copied into this one.
#include <algorithm>
#include <iostream>
#include <variant>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/given_store.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

using ozo::result_t;
namespace results = ozo::results;

struct Arguments {
  InputFile from;
};

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

// The old store's records are copied into this one. A type and kind that both
// hold takes the old store's record: the upgrade carries the previous
// installation's certificates over, and says which slots it replaced. A
// record the component cannot use (one that keeps it from starting, or that
// it cannot decode) is not copied: its slot keeps what this store held, and
// the tool names it and says why.
int Upgrade(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& from = arguments.from.path;
  const ozo::ref_ptr<host::SqliteStore> old = OpenGivenStore(from, kExitStore, "the old store cannot be used: ");
  const std::unique_ptr<host::ServiceHost> oldHost = ReadingHost(old);
  Session session(global, oldHost && HoldsClients(*oldHost) ? Access::WriteSecrets : Access::Write);
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
    Announce(global, outcome.message);
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
    Announce(global, stored.slot() + " certificate " + (replaced ? "copied, replacing the one stored" : "copied"));
  }
  Announce(global, "certificates copied from " + from);
  if (global.json) PrintJson(json);
  return kExitOk;
}

}  // namespace

Command Upgrade() {
  return Define<Arguments>("upgrade", "copy the certificates of an older store", {},
                           {Option(&Arguments::from, "--from", "OLD.db", "the older store", true)}, Upgrade);
}

}  // namespace certctl::commands
