#include "tools/certctl/lib/manager_run.h"

#include <pwd.h>
#include <unistd.h>

#include <ctime>

#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/unicode.h"

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
  return DescribeResult(result) + hint;
}

std::string LockedClientSlot(ivo::PeerType type) {
  const std::string keyword = type.keyword();
  return DescribeResult(results::AccessDenied) + ": the policy locks the " + keyword +
         " client slot; the pending key stays (certctl policy unlock " + keyword + " client allows the change)";
}

ozo::ref_ptr<ivo::ICertificatesManager> StartManager(Session& session) {
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  const result_t created = session.CreateManager(manager);
  if (ozo::Succeeded(created)) return manager;
  session.ThrowIfStoreFailed(created);
  const std::string culprits = UnloadableRecords(session);
  throw Failure(kExitFailed,
                culprits.empty() ? "cannot create the certificates manager: " + DescribeResult(created)
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

void JournalRemoval(Session& session, ivo::PeerType type, bool client, const ivo::ChangeInitiator& initiator) {
  const ivo::CertificateTypeIds& ids = type.ids();
  ivo::CertificateEvent event;
  event.eventType = client ? ids.clientRemoved : ids.serverRemoved;
  event.initiator = initiator;
  event.time = static_cast<std::int64_t>(std::time(nullptr));
  session.host().events().Publish(&event);
}

ivo::ChangeInitiator UserInitiator() {
  ivo::ChangeInitiator initiator;
  initiator.kind = ivo::ChangeInitiator::User;
  initiator.details.emplace();
  initiator.details->id = static_cast<std::uint32_t>(::getuid());
  const passwd* user = ::getpwuid(::getuid());
  const std::u16string name = Utf16Of(user ? user->pw_name : "unknown");
  initiator.details->name = ozo::string16_t(name.data(), name.size());
  return initiator;
}

}  // namespace certctl
