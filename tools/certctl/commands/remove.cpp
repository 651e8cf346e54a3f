// remove-server and remove-client. A record the component cannot decode is
// removed all the same, but no event can describe it and the component
// reports the failure to describe it: the removal is complete, so it is
// kept, journalled and reported as done.
#include "host/storage/saved_slot.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

struct Arguments {
  PeerType type;
  bool policy = false;
};

int Remove(const GlobalOptions& global, const Arguments& arguments, bool client) {
  const ivo::PeerType type = arguments.type.value;
  const std::string kind = client ? "client" : "server";
  return WithManager(global, Access::Write, [&](Session& session, ivo::ICertificatesManager& manager) {
    const std::optional<StoredCertificate> stored =
        JudgeSlot(session.host(), session.component(), session.trace(), type, client);
    const bool broken = stored && !stored->problem.empty();
    const result_t result = client ? (arguments.policy ? manager.RemovePolicyClientCertificate(type)
                                                       : manager.RemoveClientCertificate(type, host::ProcessUser()))
                                   : (arguments.policy ? manager.RemovePolicyServerCertificate(type)
                                                       : manager.RemoveServerCertificate(type, host::ProcessUser()));
    session.ThrowIfStoreFailed(result);
    if (ozo::Failed(result) && broken &&
        !JudgeSlot(session.host(), session.component(), session.trace(), type, client)) {
      host::JournalRemoval(session.host(), type, client,
                           arguments.policy ? ivo::ChangeInitiator() : host::ProcessUser());
      return Outcome{
          kExitOk,
          stored->slot() + " record removed; no certificate is named in its event, since it " + stored->problem,
          {{"type", type.keyword()}, {"kind", kind}, {"changed", true}}};
    }
    Outcome outcome = Report(session, result, kind + " certificate of " + type.keyword() + " removed",
                             "no " + kind + " certificate of " + type.keyword() + " is stored");
    outcome.facts = {{"type", type.keyword()}, {"kind", kind}, {"changed", outcome.status == kExitOk}};
    return outcome;
  });
}

}  // namespace

Command RemoveServer() {
  return Define<Arguments>(
      "remove-server", "remove the server certificate", {Operand(&Arguments::type, "TYPE")},
      {Switch(&Arguments::policy, "--policy", kPolicyHelp)},
      [](const GlobalOptions& global, const Arguments& arguments) { return Remove(global, arguments, false); });
}

Command RemoveClient() {
  return Define<Arguments>(
      "remove-client", "remove the client certificate", {Operand(&Arguments::type, "TYPE")},
      {Switch(&Arguments::policy, "--policy", kPolicyHelp)},
      [](const GlobalOptions& global, const Arguments& arguments) { return Remove(global, arguments, true); });
}

}  // namespace certctl::commands
