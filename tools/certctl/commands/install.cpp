// install: the signed certificate of a slot's pending key, wrapped with the
// key into a container under a fresh random password and stored through the
// component; with --probe, first tried against the peer.
#include <ctime>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/trust_anchors.h"
#include "tools/certctl/probe/peer_verdict.h"

namespace certctl::commands {
namespace {

using ozo::result_t;
namespace results = ozo::results;

struct Arguments {
  PeerType type;
  InputFile file;  // none: the certificate kept pending after a failed trial
  std::optional<TrustFile> trusted;
  std::optional<ProbeTarget> probe;
  std::string servername;
  Timeout timeout;
};

// The trust anchors kept with the slot's renewal settings, or none.
std::string KeptTrust(Session& session, ivo::CertificateType type) {
  host::SqliteStore::RenewalConfig config;
  const result_t read = session.store().GetRenewalConfig(type, config);
  session.ThrowIfStoreFailed(read);
  return ozo::Succeeded(read) ? config.trusted : "";
}

// The pending key's pair replaces the slot's in one unit of work with the
// key's removal; a refusal (a policy lock, a trial the peer fails) keeps the
// old pair and the pending key. A trial holds no lock on the store.
int Install(const GlobalOptions& global, const Arguments& arguments) {
  const ivo::CertificateType type = arguments.type.value;
  const std::string keyword = TypeKeyword(type);
  const ozo::blob_t bytes = arguments.file.path.empty() ? ozo::blob_t() : ReadFileBytes(arguments.file.path);
  Session session(global, Access::WriteSecrets);
  const host::TrustAnchors anchors = IssuedCertificateAnchors(
      session, type, arguments.trusted ? arguments.trusted->certificates : KeptTrust(session, type),
      arguments.trusted ? arguments.trusted->path : "the certificates kept with the renewal settings");
  host::Installation installation;
  std::string error;
  const result_t prepared = host::PrepareInstallation(
      session.store(), type, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), anchors,
      std::time(nullptr), installation, error);
  session.ThrowIfStoreFailed(prepared);
  const std::string source = arguments.file.path.empty() ? "the pending certificate" : arguments.file.path;
  if (prepared == results::InvalidState) throw NoAnchorsRefusal(type);
  if (prepared == results::NotFound)
    throw Failure(kExitUsage, error + ": certctl request " + keyword + " makes a key, install " + keyword +
                                  " FILE takes its signed certificate");
  if (prepared == results::CertificateOutOfValidityPeriod)
    throw Failure(kExitFailed, DescribeResult(prepared) + ": " + error, prepared);
  if (prepared == results::NotMatched)
    throw Failure(kExitUsage, source + ": " + error + ": the CA must sign the pending key's request (certctl request " +
                                  keyword + " writes it again)");
  if (prepared == results::Prohibited) throw Failure(kExitFailed, source + " is refused: " + error, prepared);
  if (ozo::Failed(prepared)) throw Failure(kExitUsage, source + ": " + error);
  if (arguments.probe) {
    ProbeOptions options;
    options.servername = arguments.servername;
    options.deadline = host::Deadline(arguments.timeout.seconds);
    PeerSlots slots = ReadSlots(session, type);
    session.Commit();  // no lock is held over the network: other writers go on during the trial
    const std::string refusal = TrialOfNewPair(std::move(slots), installation.record, *arguments.probe, options);
    session.Begin();
    if (!refusal.empty()) {
      const result_t kept = host::KeepPendingCertificate(session.store(), type, installation.certificates);
      session.ThrowIfStoreFailed(kept);
      session.Commit();
      throw Failure(kExitFailed, "the new " + keyword + " client certificate does not work against " +
                                     arguments.probe->text() + ": " + refusal +
                                     "; the old pair stays, the new one is pending (certctl install " + keyword +
                                     " retries it)");
    }
  }
  return WithManagerOf(session, global, [&](ivo::ICertificatesManager& manager) {
    // The pending key is checked again: another run may have replaced it
    // during the trial.
    const result_t installed =
        host::CompleteInstallation(session.store(), manager, type, installation, UserInitiator());
    if (installed == results::InvalidState)
      throw Failure(kExitFailed, "the " + keyword + " pending key changed during the trial: nothing was installed",
                    installed);
    return Report(session, installed, "client certificate of " + keyword + " installed: " + installation.subject, "");
  });
}

}  // namespace

Command Install() {
  return Define<Arguments>(
      "install", "the signed certificate of the pending key, into the client slot",
      {Operand(&Arguments::type, "TYPE"), OptionalOperand(&Arguments::file, "FILE")},
      {Option(&Arguments::trusted, "--trusted", "FILE",
              "the certificate must chain to these (default: the renewal settings', else the server certificate)"),
       Option(&Arguments::probe, "--probe", "HOST[:PORT]", "try the new pair against the peer first"),
       Option(&Arguments::servername, "--servername", "NAME", "the name sent and checked by --probe"),
       Option(&Arguments::timeout, "--timeout", "SECONDS", "give up the trial after SECONDS (10)")},
      Install);
}

}  // namespace certctl::commands
