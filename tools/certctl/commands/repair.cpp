// repair: the records the component cannot use, removed.
#include "host/storage/saved_slot.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

struct Arguments {
  std::optional<PeerType> type;
  std::optional<CertKind> kind;
};

// Removes the records the component cannot use: those that keep it from
// starting and those it cannot decode. Every other record stays as it is.
// Each removal is journalled as the slot's "removed" event, by the user; the
// policy is not asked (this is upkeep of the store, not a change of a
// certificate).
int RepairStore(const GlobalOptions& global, const Arguments& arguments) {
  const std::optional<ivo::PeerType> type =
      arguments.type ? std::optional(arguments.type->value) : std::nullopt;  // none: every type
  const std::string kind = !arguments.kind ? "" : arguments.kind->client ? "client" : "server";
  Session session(global, Access::Write);
  std::vector<std::string> removed;
  for (const StoredCertificate& stored : ReadInventory(session)) {
    if (stored.problem.empty() || (type && stored.type != *type) || (!kind.empty() && kind != stored.kind())) continue;
    const result_t result = session.host().RemoveRecord(stored.type, stored.client);
    session.ThrowIfStoreFailed(result);
    if (ozo::Failed(result))
      throw Failure(kExitFailed, "cannot remove the " + stored.slot() + " record: " + host::ResultText(result), result);
    host::JournalRemoval(session.host(), stored.type, stored.client, host::ProcessUser());
    removed.push_back("removed the " + stored.slot() + " record: it " + stored.problem);
  }
  session.Commit();
  for (std::size_t i = 0; i + 1 < removed.size(); ++i) Announce(global, removed[i]);
  Announce(global, removed.empty() ? "nothing to repair: the component can use every stored record" : removed.back(),
           {{"removed", removed}});
  return removed.empty() ? kExitFalse : kExitOk;
}

}  // namespace

Command Repair() {
  return Define<Arguments>(
      "repair", "remove the records the component cannot use", {},
      {Option(&Arguments::type, "-t,--type", "TYPE", "only this type (edr, sandbox, ndr, siem or 1-4)"),
       Option(&Arguments::kind, "--kind", "KIND", "only this kind (server or client)")},
      RepairStore);
}

}  // namespace certctl::commands
