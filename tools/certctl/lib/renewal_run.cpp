#include "tools/certctl/lib/renewal_run.h"

#include <ctime>

#include "host/enrollment.h"
#include "host/renewal_schedule.h"
#include "host/storage/journal_records.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/hook.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/trust_anchors.h"
#include "tools/certctl/probe/peer_verdict.h"

namespace certctl {
namespace {

using ozo::result_t;
namespace results = ozo::results;

// A run of one order: its session, the slot's state as it goes, and the
// dates that bound the next attempt.
class Renewal {
 public:
  Renewal(const GlobalOptions& global, const RenewalOrder& order)
      : m_global(global),
        m_order(order),
        m_keyword(TypeKeyword(order.type)),
        m_session(global, Access::WriteSecrets),
        m_now(std::time(nullptr)) {}

  int Run();

 private:
  host::SqliteStore& store() { return m_session.store(); }
  void RefuseLockedSlot();
  void ReadSlot();
  void AskTheCa();
  host::Installation Prepare();
  void TryAgainstThePeer(const host::Installation& installation);
  int Install(const host::Installation& installation);
  // Counts a failure in a transaction of its own, journals it, and throws it.
  [[noreturn]] void Fail(const std::string& error);
  void Journal(const std::string& detail);

  const GlobalOptions& m_global;
  const RenewalOrder& m_order;
  const std::string m_keyword;
  Session m_session;
  const std::int64_t m_now;
  ClientFile m_current;         // the slot's pair; empty for an enrollment
  std::int64_t m_notAfter = 0;  // its end: the latest a retry may wait for
  host::SqliteStore::RenewalState m_state;
  host::TrustAnchors m_anchors;  // what the new certificate must chain to
  bool m_fromTheCa = false;      // false: a certificate kept pending is installed
};

void Renewal::RefuseLockedSlot() {
  bool locked = false;
  m_session.ThrowIfStoreFailed(
      store().IsSettingLocked(ivo::kCertificateTypeIds[m_order.type - 1].clientSetting, locked));
  if (locked)
    throw Failure(kExitFailed,
                  Refusal(results::AccessDenied) + ": the " + m_keyword + " client certificate is not renewed",
                  results::AccessDenied);
}

void Renewal::ReadSlot() {
  ivo::ClientCertificate record;
  const result_t read = m_session.host().ReadRecord(m_order.type, record);
  m_session.ThrowIfStoreFailed(read);
  const bool stored = ozo::Succeeded(read);
  if (m_order.enroll && stored)
    throw Failure(kExitUsage, "the " + m_keyword + " client slot holds a certificate already: certctl renew " +
                                  m_keyword + " renews it");
  if (!m_order.enroll && !stored)
    throw Failure(kExitUsage, "the " + m_keyword + " client slot is empty: certctl enroll " + m_keyword +
                                  " makes its first certificate");
  if (stored && ReadClientFile(record.certificate, record.password, m_current) != ContainerProblem::None)
    throw Failure(kExitFailed, "the stored " + m_keyword + " client certificate cannot be opened with its password");
  m_notAfter =
      stored ? SecondsOf(X509_get0_notAfter(m_current.certificate.get())).value_or(m_now) : m_now + 365 * host::kDay;
  m_anchors = IssuedCertificateAnchors(m_session, m_order.type, m_order.config.trusted, m_order.trustedOrigin);
  if (m_anchors.certificates.empty()) throw NoAnchorsRefusal(m_order.type);
  m_session.ThrowIfStoreFailed(store().GetRenewalState(m_order.type, m_state));
}

// The certificates the CA's answers must chain to: the configured ones, else
// the type's stored server certificate.
std::vector<UniquePtr<X509>> TrustedBy(Session& session, ivo::CertificateType type, const std::string& trusted) {
  ozo::blob_t bytes(trusted.data(), trusted.size());
  if (trusted.empty()) {
    ivo::ServerCertificate record;
    const result_t read = session.host().ReadRecord(type, record);
    session.ThrowIfStoreFailed(read);
    if (ozo::Succeeded(read)) bytes = record.certificate;
  }
  ServerFile file;
  if (!bytes.empty()) ReadServerFile(bytes, file);
  return std::move(file.certificates);
}

void Renewal::AskTheCa() {
  host::RequestSubject subject;
  if (m_order.enroll) {
    subject.name = m_order.subject;
    subject.alternativeNames = m_order.alternativeNames;
  } else {
    subject = host::SubjectOf(m_current.certificate.get());
  }
  UniquePtr<EVP_PKEY> newKey;
  bool made = false;
  std::string error;
  const host::KeyAlgorithm algorithm =
      m_current.key ? host::KeyAlgorithmLike(m_current.key.get()) : host::KeyAlgorithm::EcP256;
  const result_t kept = host::PendingKeyFor(store(), m_order.type, algorithm, subject, newKey, made, error);
  m_session.ThrowIfStoreFailed(kept);
  if (ozo::Failed(kept)) throw Failure(kExitFailed, "no key for the request: " + error, kept);
  m_session.Commit();  // the key outlives the exchange, whatever comes of it

  const std::vector<UniquePtr<X509>> trusted = TrustedBy(m_session, m_order.type, m_order.config.trusted);
  host::CmpExchange exchange;
  exchange.server = m_order.config.server;
  if (m_order.enroll)
    exchange.request = host::CmpRequest::Initialization;
  else
    host::CmpRequestOf(m_order.config.command, exchange.request);
  for (const UniquePtr<X509>& anchor : trusted) exchange.trusted.push_back(anchor.get());
  exchange.certificate = m_current.certificate.get();
  exchange.key = m_current.key.get();
  exchange.reference = m_order.reference;
  exchange.secret = m_order.secret;
  UniquePtr<X509_NAME> name;
  if (m_order.enroll) {
    name = host::NameOf(m_order.subject, error);
    exchange.subject = name.get();
  }
  const auto* senderDer = reinterpret_cast<const unsigned char*>(m_order.config.sender.data());
  const UniquePtr<X509_NAME> sender(
      m_order.config.sender.empty()
          ? nullptr
          : d2i_X509_NAME(nullptr, &senderDer, static_cast<long>(m_order.config.sender.size())));
  exchange.expectedSender = sender.get();
  exchange.issuedAnchors = &m_anchors;
  exchange.newKey = newKey.get();
  exchange.timeoutSeconds = host::Deadline(m_order.timeoutSeconds).WholeSeconds();
  const host::CmpOutcome outcome = host::ExchangeCmp(exchange);
  m_session.Begin();
  if (!outcome.issued)
    Fail("the CA at " + m_order.config.server + ": " + outcome.error +
         (outcome.refusedSender.empty() ? ""
                                        : " (--sender '" + outcome.refusedSender + "' accepts that signer by name)"));
  m_session.ThrowIfStoreFailed(host::KeepPendingCertificate(store(), m_order.type, outcome.certificates));
  m_session.Commit();  // what the CA sent outlives the trial against the peer
  m_session.Begin();
  m_fromTheCa = true;
}

host::Installation Renewal::Prepare() {
  host::Installation installation;
  std::string error;
  const result_t prepared = host::PrepareInstallation(store(), m_order.type, "", m_anchors, m_now, installation, error);
  m_session.ThrowIfStoreFailed(prepared);
  if (ozo::Succeeded(prepared)) return installation;
  // A certificate refused is dropped: the next attempt asks the CA again.
  if (prepared != results::NotFound)
    m_session.ThrowIfStoreFailed(host::KeepPendingCertificate(store(), m_order.type, ""));
  Fail("the certificate " + std::string(m_fromTheCa ? "the CA sent" : "kept pending") + " is refused: " + error);
}

void Renewal::TryAgainstThePeer(const host::Installation& installation) {
  if (!m_order.probe) return;
  m_session.Commit();  // no lock held over the network
  ProbeOptions options;
  options.servername = m_order.servername;
  options.deadline = host::Deadline(m_order.timeoutSeconds);
  const std::string refusal =
      TrialOfNewPair(ReadSlots(m_session, m_order.type), installation.record, *m_order.probe, options);
  m_session.Begin();
  if (!refusal.empty())
    Fail("the new pair does not work against " + m_order.probe->text() + ": " + refusal +
         "; the old pair stays, the new one is pending (the next renew installs it)");
}

int Renewal::Install(const host::Installation& installation) {
  ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(m_session);
  const result_t installed = host::CompleteInstallation(store(), *manager, m_order.type, installation, UserInitiator());
  if (installed == results::InvalidState)
    throw Failure(kExitFailed, "the " + m_keyword + " pending key changed during the renewal: nothing was installed");
  const Outcome outcome = Report(m_session, installed, "", "");
  const std::int64_t due = host::DueTime(installation.notBefore, installation.notAfter, m_order.config.beforeDays);
  host::RecordSuccess(m_state, m_now, due);
  m_state.hookError.clear();
  m_session.ThrowIfStoreFailed(store().PutRenewalState(m_order.type, m_state));
  Journal(std::string(m_fromTheCa ? "from " + m_order.config.server : "with the certificate kept pending") + ": " +
          installation.subject + ", serial " + installation.serial);
  manager.Reset();  // flushes the storage
  m_session.Commit();
  Announce(m_global, "client certificate of " + m_keyword + (m_order.enroll ? " enrolled" : " renewed") +
                         (m_fromTheCa ? " by " + m_order.config.server : " with the certificate kept pending") + ": " +
                         installation.subject + ", serial " + installation.serial + ", ends " +
                         IsoFromSeconds(installation.notAfter) + "; next renewal due " + IsoFromSeconds(due));
  if (m_order.config.hook.empty()) return outcome.status;
  const std::string hookError =
      RunHook(m_order.config.hook, {{"CERTCTL_TYPE", m_keyword},
                                    {"CERTCTL_SUBJECT", installation.subject},
                                    {"CERTCTL_NOT_AFTER", IsoFromSeconds(installation.notAfter)},
                                    {"CERTCTL_SERIAL", installation.serial}});
  if (hookError.empty()) return outcome.status;
  m_session.Begin();
  m_state.hookError = "the hook " + hookError;
  m_session.ThrowIfStoreFailed(store().PutRenewalState(m_order.type, m_state));
  Journal("its hook " + hookError);
  m_session.Commit();
  throw Failure(kExitFailed, "the " + m_keyword + " client certificate is renewed, but the hook " + hookError);
}

void Renewal::Fail(const std::string& error) {
  host::RecordFailure(m_state, m_now, error, m_notAfter);
  m_session.ThrowIfStoreFailed(store().PutRenewalState(m_order.type, m_state));
  Journal("failed: " + error);
  m_session.Commit();
  throw Failure(kExitFailed, error + "; " + std::to_string(m_state.failures) +
                                 (m_state.failures == 1 ? " failure" : " failures in a row") + ", next attempt " +
                                 IsoFromSeconds(*m_state.nextAttempt));
}

void Renewal::Journal(const std::string& detail) {
  m_session.ThrowIfStoreFailed(store().AppendEvent(
      host::OperationRecord(m_order.enroll ? "enroll" : "renew", m_keyword + " client", detail, UserInitiator())));
}

int Renewal::Run() {
  RefuseLockedSlot();
  ReadSlot();
  host::SqliteStore::PendingKey pending;
  const result_t read = store().GetPendingKey(m_order.type, pending);
  m_session.ThrowIfStoreFailed(read);
  if (ozo::Failed(read) || pending.certificates.empty()) AskTheCa();
  const host::Installation installation = Prepare();
  TryAgainstThePeer(installation);
  return Install(installation);
}

}  // namespace

int RunRenewal(const GlobalOptions& global, const RenewalOrder& order) { return Renewal(global, order).Run(); }

}  // namespace certctl
