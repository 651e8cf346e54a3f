// upgrade: the certificates of an older store copied into this one.
#include <sys/stat.h>

#include <algorithm>
#include <variant>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/given_store.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/slot_changes.h"

namespace certctl::commands {
namespace {

using ozo::result_t;
namespace results = ozo::results;

struct Arguments {
  InputFile from;
  bool policy = false;
};

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// The old store's records are copied into this one. A type and kind that both
// hold takes the old store's record: the upgrade carries the previous
// installation's certificates over, and says which slots it replaced. Kept
// as they are, and named: a slot the policy locks against local changes
// (unless --policy: the upgrade comes from the policy), and a slot whose old
// record the component cannot use. Every slot that changes is journalled
// as an operation record "upgrade". A store is never upgraded from itself.
int Upgrade(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& from = arguments.from.path;
  if (SameFile(from, LocateStore(global.store).path))
    throw Failure(kExitUsage, from + " is the store itself: a store is upgraded from another one");
  const ozo::ref_ptr<host::SqliteStore> old = OpenGivenStore(from, kExitStore, "the old store cannot be used: ");
  const std::unique_ptr<host::ServiceHost> oldHost = ReadingHost(old);
  Session session(global, oldHost && HoldsClients(*oldHost) ? Access::WriteSecrets : Access::Write);
  const std::vector<StoredCertificate> incoming =
      oldHost ? ReadInventory(*oldHost, session.component(), session.trace()) : std::vector<StoredCertificate>();
  const SlotsHeld before = ReadSlotsHeld(session);
  std::vector<SavedSlot> kept = arguments.policy ? std::vector<SavedSlot>() : LockedSlots(session);
  const auto locked = [&](const StoredCertificate& stored) {
    return std::any_of(kept.begin(), kept.end(),
                       [&](const SavedSlot& slot) { return slot.type == stored.type && slot.client == stored.client; });
  };
  const std::size_t lockedCount = kept.size();
  for (const StoredCertificate& stored : incoming)
    if (!stored.problem.empty() && !locked(stored))
      kept.push_back(SaveSlot(session.host(), stored.type, stored.client));

  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const result_t created =
      session.component().Create(app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader,
                                 session.host().locatorAddress(), upgrader);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the upgrader: " + host::ResultText(created), created);
  const result_t result = upgrader->Upgrade(old.get(), &session.store());
  upgrader.Reset();
  if (const std::string failure = old->FirstFailure(); !failure.empty())
    throw Failure(kExitStore, "the old store cannot be used: " + failure, result);
  const Outcome outcome = Report(session, result, "", "the old store has no certificates");
  for (const SavedSlot& saved : kept) {
    const result_t restored = PutBack(session.host(), saved);
    session.ThrowIfStoreFailed(restored);
    if (ozo::Failed(restored))
      throw Failure(kExitFailed, "cannot keep a record out of the upgrade: " + host::ResultText(restored), restored);
  }
  const SlotsHeld after = ReadSlotsHeld(session);
  JournalChanges(session, "upgrade", before, after);
  session.Commit();
  if (outcome.status != kExitOk) {
    Announce(global, outcome.message, {{"from", from}, {"copied", Json::array()}});
    return outcome.status;
  }
  Json json = {{"from", from},
               {"copied", Json::array()},
               {"replaced", Json::array()},
               {"kept", Json::array()},
               {"skipped", Json::array()}};
  kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(lockedCount), kept.end());
  for (const StoredCertificate& stored : incoming) {
    if (locked(stored)) {
      json["kept"].push_back({{"slot", stored.slot()}, {"reason", "the policy locks it"}});
      Announce(global, stored.slot() + " certificate kept: the policy locks it (--policy upgrades it all the same)");
    } else if (!stored.problem.empty()) {
      json["skipped"].push_back({{"slot", stored.slot()}, {"reason", stored.problem}});
      PrintFailure(stored.slot() + " record not copied: it " + stored.problem);
    } else if (before.count(stored.slot()) && before.at(stored.slot()).bytes == after.at(stored.slot()).bytes) {
      json["unchanged"].push_back(stored.slot());
      Announce(global, stored.slot() + " certificate unchanged: the same is stored");
    } else {
      const bool replaced = before.count(stored.slot()) != 0;
      json[replaced ? "replaced" : "copied"].push_back(stored.slot());
      Announce(global, stored.slot() + " certificate " + (replaced ? "copied, replacing the one stored" : "copied"));
    }
  }
  Announce(global, "certificates copied from " + from, json);
  return kExitOk;
}

}  // namespace

Command Upgrade() {
  return Define<Arguments>(
      "upgrade", "copy the certificates of an older store", {},
      {Option(&Arguments::from, "--from", "OLD.db", "the older store", true),
       Switch(&Arguments::policy, "--policy", "the upgrade comes from the policy: locked slots too")},
      Upgrade);
}

}  // namespace certctl::commands
