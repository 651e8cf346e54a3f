#include "host/lifecycle/renewal_run.h"

#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/schedule.h"
#include "host/lifecycle/slots.h"
#include "host/storage/journal_records.h"
#include "ossl/text.h"

namespace host::lifecycle::detail {

bool Renewal::Refuse(RenewalRefusal refusal, result_t result, const std::string& words) {
  m_outcome.step = RenewalStep::Refused;
  m_outcome.refusal = refusal;
  m_outcome.status = Status(result, words);
  m_store.Rollback();
  return false;
}

bool Renewal::StoreFailed(result_t result) {
  m_outcome.step = RenewalStep::StoreFailed;
  m_outcome.status = StoreFailure(m_store, result);
  m_store.Rollback();
  return false;
}

result_t Renewal::Journal(const std::string& detail) {
  return m_store.Journal(
      OperationRecord(m_plan.enroll() ? "enroll" : "renew", ClientSlot(m_type), detail, m_plan.initiator));
}

bool Renewal::Fail(const std::string& words, result_t result) {
  RecordFailure(m_outcome.state, Now(), words, m_notAfter);
  if (m_stored && m_current.certificate) {
    const std::int64_t notBefore = ossl::SecondsOf(X509_get0_notBefore(m_current.certificate.get())).value_or(m_now);
    m_outcome.nextAttempt = NextAttempt(DueTime(notBefore, m_notAfter, m_stored->beforeDays), m_outcome.state);
  }
  m_outcome.step = RenewalStep::Failed;
  m_outcome.status = Status(result, words);
  result_t kept = m_store.PutRenewalState(m_type, m_outcome.state);
  if (ozo::Succeeded(kept)) kept = Journal("failed: " + words);
  if (ozo::Succeeded(kept)) kept = m_store.Commit();
  if (ozo::Failed(kept)) StoreFailed(kept);
  return false;
}

bool Renewal::KeyStillOurs() {
  PendingKey pending;
  const result_t read = m_store.GetPendingKey(m_type, pending);
  if (ozo::Failed(read) && read != results::NotFound) return StoreFailed(read);
  if (ozo::Succeeded(read) && KeyPrint(pending.key) == m_keyPrint) return true;
  return Refuse(
      RenewalRefusal::KeyChanged, results::InvalidState,
      "the " + m_keyword + " pending key changed during the run (another run took it): nothing was installed");
}

// The slot as it stands: its pair, its kept settings (and so what this run
// goes by), its state. An empty slot is said before anything else is asked.
bool Renewal::ReadSlot() {
  ivo::ClientCertificate& record = m_record;
  const result_t read = m_with.manager.GetClientCertificate(m_type, record);
  if (ozo::Failed(read) && read != results::NotFound) return StoreFailed(read);
  const bool stored = ozo::Succeeded(read);
  if (m_plan.enroll() && stored)
    return Refuse(RenewalRefusal::SlotHolds, results::Found, "the " + m_keyword + " client slot holds a certificate");
  if (!m_plan.enroll() && !stored)
    return Refuse(RenewalRefusal::SlotEmpty, results::NotFound, "the " + m_keyword + " client slot is empty");
  if (stored && ossl::OpenContainer(std::string_view(reinterpret_cast<const char*>(record.certificate.data()),
                                                     record.certificate.size()),
                                    record.password.c_str(), m_current) != ossl::ContainerProblem::None)
    return Refuse(RenewalRefusal::Unreadable, results::InvalidArgument,
                  "the stored " + m_keyword + " client certificate cannot be opened with its password");
  m_notAfter =
      stored ? ossl::SecondsOf(X509_get0_notAfter(m_current.certificate.get())).value_or(m_now) : m_now + 365 * kDay;
  RenewalConfig settings;
  if (const result_t kept = m_store.GetRenewalConfig(m_type, settings); ozo::Succeeded(kept))
    m_stored = settings;
  else if (kept != results::NotFound)
    return StoreFailed(kept);
  m_outcome.tracked = m_stored.has_value();
  if (m_plan.enroll()) {
    m_config = m_plan.enrollment->settings;
    m_trustedOrigin = m_plan.enrollment->trustedOrigin;
  } else {
    m_config = Merged(m_stored, *m_plan.overrides);
    m_trustedOrigin =
        m_plan.overrides->trusted ? m_plan.overrides->trustedOrigin : "the certificates kept with the renewal settings";
  }
  m_outcome.server = m_config.server;
  if (const result_t state = m_store.GetRenewalState(m_type, m_outcome.state);
      ozo::Failed(state) && state != results::NotFound)
    return StoreFailed(state);
  return true;
}

// What the run may go by: a lock is the policy's answer to this very
// renewal, counted as a failure with its reason, so that monitoring sees a
// slot nothing renews; settings that cannot work are refused before
// anything is counted.
bool Renewal::Settle() {
  bool locked = false;
  if (const result_t read = m_store.IsSettingLocked(m_type.ids().clientSetting, locked); ozo::Failed(read))
    return StoreFailed(read);
  if (locked && m_plan.rehearse)
    return Refuse(RenewalRefusal::Locked, results::AccessDenied,
                  "the policy locks the " + m_keyword + " client slot against local change");
  if (locked) {
    PendingKey pending;
    const bool keyPending = ozo::Succeeded(m_store.GetPendingKey(m_type, pending));
    m_outcome.refusal = RenewalRefusal::Locked;
    return Fail("the policy locks the " + m_keyword + " client slot against local change" +
                    (keyPending ? "; the pending key stays" : ""),
                results::AccessDenied);
  }
  if (m_config.server.empty())
    return Refuse(RenewalRefusal::BadRequest, results::InvalidArgument,
                  "no CA is named for the " + m_keyword + " client slot: neither the order nor its renewal settings");
  m_anchors = SlotAnchors(m_with.manager, m_type, m_config.trusted, m_trustedOrigin);
  if (const std::string problem = AnchorsProblem(m_anchors); !problem.empty())
    return Refuse(RenewalRefusal::NoAnchors, results::InvalidState, problem);
  if (m_plan.enroll()) {
    m_kind = CaRequest::Kind::Initialization;
  } else if (const std::string problem = SettingsProblem(m_config); !problem.empty()) {
    return Refuse(RenewalRefusal::BadRequest, results::InvalidArgument, "the renewal settings: " + problem);
  } else {
    RequestKindOf(m_config.command, m_kind);
  }
  return true;
}

bool Renewal::AskTheCa() {
  RequestSubject subject;
  if (m_plan.enroll()) {
    subject.name = m_plan.enrollment->subject;
    subject.alternativeNames = m_plan.enrollment->alternativeNames;
    subject = ForClientUse(std::move(subject), KeyAlgorithm::EcP256);
  } else {
    subject = SubjectOf(m_current.certificate.get());
  }
  UniquePtr<EVP_PKEY> newKey;
  bool made = false;
  std::string error;
  const KeyAlgorithm algorithm = m_current.key ? KeyAlgorithmLike(m_current.key.get()) : KeyAlgorithm::EcP256;
  const result_t kept = PendingKeyFor(m_store, m_type, algorithm, m_plan.enroll() ? "enroll" : "renew", Now(), subject,
                                      newKey, made, error);
  if (kept == results::InvalidArgument)
    return Refuse(RenewalRefusal::BadRequest, kept, "no request can be made: " + error);
  if (ozo::Failed(kept)) return error.empty() ? StoreFailed(kept) : Fail("no key for the request: " + error, kept);
  PendingKey pending;
  if (const result_t read = m_store.GetPendingKey(m_type, pending); ozo::Failed(read)) return StoreFailed(read);
  m_keyPrint = KeyPrint(pending.key);
  // The key outlives the exchange, whatever comes of it.
  if (const result_t committed = m_store.Commit(); ozo::Failed(committed)) return StoreFailed(committed);

  UniquePtr<X509_NAME> sender;
  CaRequest request = RequestOf(m_kind, sender);
  const UniquePtr<X509_NAME> name = m_plan.enroll() ? NameOf(m_plan.enrollment->subject, error) : nullptr;
  request.subject = name.get();
  request.newKey = newKey.get();
  const CaAnswer answer = m_with.ca.Request(request);
  if (const result_t begun = m_store.Begin(); ozo::Failed(begun)) return StoreFailed(begun);
  if (!KeyStillOurs()) return false;
  m_outcome.refusedSender = answer.refusedSender;
  if (!answer.issued) return Fail(CaWords(answer.error));
  if (const result_t held = KeepPendingCertificate(m_store, m_type, answer.certificates); ozo::Failed(held))
    return StoreFailed(held);
  // What the CA sent outlives the trial against the peer.
  result_t committed = m_store.Commit();
  if (ozo::Succeeded(committed)) committed = m_store.Begin();
  if (ozo::Failed(committed)) return StoreFailed(committed);
  m_outcome.fromTheCa = true;
  return true;
}

CaRequest Renewal::RequestOf(CaRequest::Kind kind, UniquePtr<X509_NAME>& sender) {
  CaRequest request;
  request.kind = kind;
  request.server = m_config.server;
  request.deadline = &m_deadline;
  request.now = [this] { return Now(); };
  request.anchors = &m_anchors;
  request.certificate = m_current.certificate.get();
  request.key = m_current.key.get();
  if (m_plan.enroll()) {
    request.reference = m_plan.enrollment->reference;
    request.secret = &m_plan.enrollment->secret.text();
  }
  const auto* senderDer = reinterpret_cast<const unsigned char*>(m_config.sender.data());
  if (!m_config.sender.empty())
    sender.reset(d2i_X509_NAME(nullptr, &senderDer, static_cast<long>(m_config.sender.size())));
  request.expectedSender = sender.get();
  return request;
}

std::string Renewal::CaWords(const std::string& error) const { return "the CA at " + m_config.server + ": " + error; }

bool Renewal::Prepare() {
  std::string error;
  const result_t prepared = PrepareInstallation(m_store, m_type, "", m_anchors, Now(), m_outcome.installation, error);
  if (ozo::Succeeded(prepared)) return true;
  if (error.empty()) return StoreFailed(prepared);
  // A certificate refused is dropped: the next attempt asks the CA again.
  if (prepared != results::NotFound)
    if (const result_t dropped = KeepPendingCertificate(m_store, m_type, ""); ozo::Failed(dropped))
      return StoreFailed(dropped);
  return Fail(
      "the certificate " + std::string(m_outcome.fromTheCa ? "the CA sent" : "kept pending") + " is refused: " + error,
      prepared);
}

bool Renewal::TryAgainstThePeer() {
  if (!m_with.trial || m_trial.empty()) return true;
  // No lock is held over the network.
  if (const result_t committed = m_store.Commit(); ozo::Failed(committed)) return StoreFailed(committed);
  m_outcome.trial = m_with.trial(m_type, m_outcome.installation.record, m_trial, m_deadline);
  if (const result_t begun = m_store.Begin(); ozo::Failed(begun)) return StoreFailed(begun);
  if (!KeyStillOurs()) return false;
  if (m_outcome.trial.proven()) {
    m_outcome.tried = m_trial;
    return true;
  }
  // The next run tries the same peer again before it installs the pair.
  if (const result_t kept = KeepPendingCertificate(m_store, m_type, m_outcome.installation.certificates, m_trial);
      ozo::Failed(kept))
    return StoreFailed(kept);
  return Fail(m_outcome.trial.words + (m_current.certificate ? "; the old pair stays" : "; the slot stays empty") +
              ", the new one is pending (the next run tries it against " + m_trial.peer + " again)");
}

bool Renewal::Install() {
  const Installation& installation = m_outcome.installation;
  bool refused = false;
  const result_t installed =
      CompleteInstallation(m_store, m_with.manager, m_type, installation, m_plan.initiator, &refused);
  if (installed == results::InvalidState)
    return KeyStillOurs() && Refuse(RenewalRefusal::KeyChanged, installed, "the pending key changed");
  if (refused)
    return Refuse(RenewalRefusal::Component, installed, "the " + m_keyword + " client certificate is not renewed");
  if (ozo::Failed(installed)) return StoreFailed(installed);
  const std::int64_t due = DueTime(installation.notBefore, installation.notAfter, m_config.beforeDays);
  RenewalState renewed = m_outcome.state;
  RecordSuccess(renewed, Now(), due);
  renewed.hookError.clear();
  result_t kept = m_store.PutRenewalState(m_type, renewed);
  if (ozo::Succeeded(kept) && m_plan.enroll() && m_plan.enrollment->keepSettings) {
    RenewalConfig settings = m_config;
    settings.command = "kur";  // from now on, under the pair it holds
    kept = m_store.PutRenewalConfig(m_type, settings);
    m_outcome.tracked = true;
  }
  if (ozo::Succeeded(kept))
    kept = Journal(std::string(m_outcome.fromTheCa ? "from " + m_config.server : "with the certificate kept pending") +
                   ": " + installation.subject + ", serial " + installation.serial);
  if (ozo::Succeeded(kept)) kept = m_store.Commit();
  if (ozo::Failed(kept)) return StoreFailed(kept);
  m_outcome.step = RenewalStep::Renewed;
  m_outcome.status = Status();
  m_outcome.due = due;
  m_outcome.beforeTooLong = !BeforeFits(installation.notBefore, installation.notAfter, m_config.beforeDays);
  m_outcome.endsSooner = m_current.certificate && installation.notAfter < m_notAfter;
  m_outcome.state = renewed;
  return true;
}

void Renewal::RunHook() {
  if (m_config.hook.empty()) return;
  std::string failure;
  if (ozo::Succeeded(m_with.hook(
          HookRunFor(m_config.hook, m_type, m_outcome.installation, m_with.hookVariables, m_with.hookTimeoutSeconds),
          failure)))
    return;
  m_outcome.step = RenewalStep::HookFailed;
  m_outcome.status = Status(results::UnspecifiedError, "the hook " + failure);
  m_outcome.state.hookError = m_outcome.status.words();
  result_t kept = m_store.Begin();
  if (ozo::Succeeded(kept)) kept = m_store.PutRenewalState(m_type, m_outcome.state);
  if (ozo::Succeeded(kept)) kept = Journal("its hook " + failure);
  if (ozo::Succeeded(kept)) kept = m_store.Commit();
  if (ozo::Failed(kept)) StoreFailed(kept);
}

void Renewal::Rehearse() {
  m_outcome.step = RenewalStep::Rehearsed;
  UniquePtr<X509_NAME> sender;
  const CaAnswer answer = m_with.ca.Request(RequestOf(CaRequest::Kind::GeneralMessage, sender));
  m_outcome.refusedSender = answer.refusedSender;
  if (!answer.answered) {
    m_outcome.status = Status(results::UnspecifiedError, CaWords(answer.error));
    return;
  }
  if (!m_with.trial || m_trial.empty()) return;
  m_outcome.trial = m_with.trial(m_type, m_record, m_trial, m_deadline);
  m_outcome.tried = m_trial;
  if (!m_outcome.trial.proven()) m_outcome.status = Status(results::UnspecifiedError, m_outcome.trial.words);
}

RenewalOutcome Renewal::Run() {
  if (const Status open = NoUnitOpen(m_store); !open.ok()) {
    m_outcome.refusal = RenewalRefusal::UnitOpen;
    m_outcome.status = open;
    return m_outcome;
  }
  // A dry run reads what is committed, outside any unit: it may run on a
  // store opened only to read.
  if (!m_plan.rehearse)
    if (const result_t begun = m_store.Begin(); ozo::Failed(begun)) return StoreFailed(begun), m_outcome;
  if (!ReadSlot() || !Settle()) return m_outcome;
  PendingKey pending;
  const result_t read = m_store.GetPendingKey(m_type, pending);
  if (ozo::Failed(read) && read != results::NotFound) return StoreFailed(read), m_outcome;
  if (ozo::Succeeded(read)) m_keyPrint = KeyPrint(pending.key);
  const std::optional<TrialTarget> ordered =
      m_plan.enroll() ? std::optional(m_config.trial()) : m_plan.overrides->trial;
  m_trial = ChooseTrial(m_plan.tryPair, ordered, pending, m_stored ? m_stored->trial() : TrialTarget{});
  if (m_plan.rehearse) return Rehearse(), m_outcome;
  if ((ozo::Failed(read) || pending.certificates.empty()) && !AskTheCa()) return m_outcome;
  if (Prepare() && TryAgainstThePeer() && Install()) RunHook();
  return m_outcome;
}

}  // namespace host::lifecycle::detail
