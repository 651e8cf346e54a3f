#include "host/lifecycle/install.h"

#include <ctime>

#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/schedule.h"
#include "host/lifecycle/trust.h"
#include "host/storage/journal_records.h"

namespace host::lifecycle {
namespace {

using ozo::result_t;
namespace results = ozo::results;

// One install, its steps each in or between the units of work it opens.
class Installing {
 public:
  Installing(const InstallOrder& order, ivo::PeerType type, RenewalDependencies& with)
      : m_order(order), m_type(type), m_with(with), m_store(with.store) {}

  InstallOutcome Run();

 private:
  std::int64_t Now() const { return m_with.now ? m_with.now() : std::time(nullptr); }
  // Ends the run with `status`, dropping the open unit.
  InstallOutcome& End(Status status) {
    m_outcome.status = std::move(status);
    m_store.Rollback();
    return m_outcome;
  }
  InstallOutcome& StoreFailed(result_t result) { return End(StoreFailure(m_store, result)); }
  bool Prepare();
  bool TryThePair();
  bool Swap();
  void RunHook();

  const InstallOrder& m_order;
  const ivo::PeerType m_type;
  RenewalDependencies& m_with;
  LifecycleStore& m_store;
  std::optional<RenewalConfig> m_settings;
  InstallOutcome m_outcome;
};

bool Installing::Prepare() {
  RenewalConfig kept;
  if (const result_t read = m_store.GetRenewalConfig(m_type, kept); ozo::Succeeded(read))
    m_settings = kept;
  else if (read != results::NotFound) {
    StoreFailed(read);
    return false;
  }
  const TrustAnchors anchors =
      SlotAnchors(m_with.manager, m_type, m_order.trusted.value_or(m_settings ? m_settings->trusted : ""),
                  m_order.trusted ? m_order.trustedOrigin : "the certificates kept with the renewal settings");
  m_outcome.anchored = AnchorsProblem(anchors).empty();
  std::string error;
  const result_t prepared =
      PrepareInstallation(m_store, m_type, m_order.signedFile, anchors, Now(), m_outcome.installation, error);
  if (ozo::Succeeded(prepared)) return true;
  if (error.empty())
    StoreFailed(prepared);
  else
    End(Status(prepared, error));
  return false;
}

// The trial, with no unit of work open; a pair it does not prove stays
// pending with the peer, committed.
bool Installing::TryThePair() {
  PendingKey pending;
  if (const result_t read = m_store.GetPendingKey(m_type, pending); ozo::Failed(read)) {
    StoreFailed(read);
    return false;
  }
  m_outcome.tried =
      ChooseTrial(m_order.tryPair, m_order.trial, pending, m_settings ? m_settings->trial() : TrialTarget{});
  if (!m_with.trial || m_outcome.tried.empty()) return true;
  if (const result_t committed = m_store.Commit(); ozo::Failed(committed)) {
    StoreFailed(committed);
    return false;
  }
  m_outcome.trial =
      m_with.trial(m_type, m_outcome.installation.record, m_outcome.tried, Deadline(m_order.timeoutSeconds));
  if (const result_t begun = m_store.Begin(); ozo::Failed(begun)) {
    StoreFailed(begun);
    return false;
  }
  if (m_outcome.trial.proven()) return true;
  ivo::ClientCertificate current;
  const std::string words =
      m_outcome.trial.words +
      (ozo::Succeeded(m_with.manager.GetClientCertificate(m_type, current)) ? "; the old pair stays"
                                                                            : "; the slot stays empty") +
      ", the new one is pending";
  result_t result = KeepPendingCertificate(m_store, m_type, m_outcome.installation.certificates, m_outcome.tried);
  if (ozo::Succeeded(result)) result = m_store.Commit();
  if (ozo::Failed(result)) {
    StoreFailed(result);
    return false;
  }
  m_outcome.status = Status(results::UnspecifiedError, words);
  return false;
}

// The swap, and the slot's renewals told of it: a certificate installed by
// hand is a success of them too (the failures and their backoff go, the
// next attempt is the new certificate's due time); a slot never renewed
// keeps no state.
bool Installing::Swap() {
  bool refused = false;
  result_t result =
      CompleteInstallation(m_store, m_with.manager, m_type, m_outcome.installation, m_order.initiator, &refused);
  if (result == results::InvalidState || refused) {
    End(Status(result, refused
                           ? "the component refused the pair"
                           : "the " + ClientSlot(m_type) +
                                 " pending key changed during the trial (another run took it): nothing was installed"));
    return false;
  }
  RenewalState state;
  const result_t read = ozo::Succeeded(result) ? m_store.GetRenewalState(m_type, state) : result;
  if (ozo::Succeeded(read)) {
    const Installation& pair = m_outcome.installation;
    RecordSuccess(state, Now(),
                  DueTime(pair.notBefore, pair.notAfter, m_settings ? m_settings->beforeDays : std::nullopt));
    result = m_store.PutRenewalState(m_type, state);
  } else if (read != results::NotFound) {
    result = read;
  }
  if (ozo::Succeeded(result)) result = m_store.Commit();
  if (ozo::Failed(result)) {
    StoreFailed(result);
    return false;
  }
  return true;
}

// The settings' hook, once the pair is committed; its failure is kept in
// the slot's state, as a renewal's.
void Installing::RunHook() {
  if (!m_order.runHook || !m_settings || m_settings->hook.empty()) return;
  std::string failure;
  if (ozo::Succeeded(m_with.hook(
          HookRunFor(m_settings->hook, m_type, m_outcome.installation, m_with.hookVariables, m_with.hookTimeoutSeconds),
          failure)))
    return;
  m_outcome.hookError = "the hook " + failure;
  RenewalState state;
  result_t result = m_store.Begin();
  const result_t read = ozo::Succeeded(result) ? m_store.GetRenewalState(m_type, state) : result;
  if (ozo::Failed(read) && read != results::NotFound) result = read;
  state.hookError = m_outcome.hookError;
  if (ozo::Succeeded(result)) result = m_store.PutRenewalState(m_type, state);
  if (ozo::Succeeded(result))
    result = m_store.Journal(OperationRecord("install", ClientSlot(m_type), "its hook " + failure, m_order.initiator));
  if (ozo::Succeeded(result)) result = m_store.Commit();
  if (ozo::Failed(result)) StoreFailed(result);
}

InstallOutcome Installing::Run() {
  if (Status open = NoUnitOpen(m_store); !open.ok()) return m_outcome.status = open, m_outcome;
  if (const result_t begun = m_store.Begin(); ozo::Failed(begun)) return StoreFailed(begun);
  if (Prepare() && TryThePair() && Swap()) RunHook();
  return m_outcome;
}

}  // namespace

InstallOutcome Install(const InstallOrder& order, RenewalDependencies& with) {
  if (!order.type) {
    InstallOutcome refused;
    refused.status = Status(results::InvalidArgument, kNoPeerType);
    return refused;
  }
  return Installing(order, *order.type, with).Run();
}

}  // namespace host::lifecycle
