#include "tools/certctl/lib/manager_run.h"

#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

Outcome Report(const Session& session, result_t result, const std::string& done, const std::string& nothing) {
  session.ThrowIfStoreFailed(result);
  if (result == results::False) return {kExitFalse, nothing};
  if (ozo::Succeeded(result)) return {kExitOk, done};
  throw Failure(kExitFailed, Refusal(result), result);
}

std::string Refusal(result_t result) {
  std::string hint;
  if (result == results::AccessDenied) hint = ": the policy locks this setting";
  if (result == results::ExceptionHasNoResultCode)
    hint = ": the component cannot decode the stored record (certctl repair removes it)";
  return host::ResultText(result) + hint;
}

std::string LockedClientSlot(ivo::PeerType type) {
  const std::string keyword = type.keyword();
  return host::ResultText(results::AccessDenied) + ": the policy locks the " + keyword +
         " client slot; the pending key stays (certctl policy unlock " + keyword + " client allows the change)";
}

ozo::ref_ptr<ivo::ICertificatesManager> StartManager(Session& session) {
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  const result_t created = session.CreateManager(manager);
  if (ozo::Succeeded(created)) return manager;
  session.ThrowIfStoreFailed(created);
  const std::string culprits = UnloadableRecords(session);
  throw Failure(kExitFailed,
                culprits.empty() ? "cannot create the certificates manager: " + host::ResultText(created)
                                 : "the certificates manager cannot start: " + culprits,
                created);
}

int WithManager(const RunOptions& global, Access access,
                const std::function<Outcome(Session&, ivo::ICertificatesManager&)>& body) {
  Session session(global, access);
  return WithManagerOf(session, global, [&](ivo::ICertificatesManager& manager) { return body(session, manager); });
}

int WithManagerOf(Session& session, const RunOptions& global,
                  const std::function<Outcome(ivo::ICertificatesManager&)>& body) {
  ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  const Outcome outcome = body(*manager);  // on a throw the session rolls back
  manager.Reset();                         // flushes the storage
  session.Commit();
  Announce(global, outcome.message, outcome.facts);
  return outcome.status;
}

}  // namespace certctl
