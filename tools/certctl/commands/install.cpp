// install: the signed certificate of a slot's pending key, wrapped with the
// key into a container under a fresh random password and stored through the
// component; with --probe, first tried against the peer.
#include <ctime>

#include "host/lifecycle/installation.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/trust_anchors.h"

namespace certctl::commands {
namespace {

namespace lifecycle = host::lifecycle;
using ozo::result_t;
namespace results = ozo::results;

struct Arguments {
  PeerType type;
  InputFile file;  // none: the certificate kept pending after a failed trial
  std::optional<TrustFile> trusted;
  std::optional<host::tls::PeerAddress> probe;
  std::string servername;
  Timeout timeout;
  Timeout hookTimeout{host::lifecycle::kDefaultHookSeconds};
  bool noProbe = false;
  bool noHook = false;
};

// The pending key's pair replaces the slot's in one unit of work with the
// key's removal; a refusal (a policy lock, a trial the peer fails) keeps the
// old pair and the pending key. A trial holds no lock on the store.
int Install(const GlobalOptions& global, const Arguments& arguments) {
  const ivo::PeerType type = arguments.type.value;
  const std::string keyword = type.keyword();
  if (arguments.noProbe && arguments.probe) throw Failure(kExitUsage, "--probe and --no-probe exclude each other");
  const ozo::blob_t bytes = arguments.file.path.empty() ? ozo::blob_t() : ReadFileBytes(arguments.file.path);
  Session session(global, Access::WriteSecrets);
  ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  lifecycle::SqliteLifecycleStore store(session.store());
  lifecycle::InstallOrder order;
  order.type = type;
  order.signedFile.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  lifecycle::RenewalConfig kept;
  session.ThrowIfStoreFailed(store.GetRenewalConfig(type, kept));
  order.trusted = arguments.trusted ? arguments.trusted->certificates : kept.trusted;
  order.trustedOrigin = arguments.trusted ? arguments.trusted->path : "the certificates kept with the renewal settings";
  order.initiator = UserInitiator();
  order.now = std::time(nullptr);
  // A slot that renews on its own takes a pair by hand as a renewal takes
  // it: tried against the settings' peer, its hook run after.
  if (arguments.probe)
    order.trial = {arguments.probe->text(), arguments.servername};
  else if (!kept.probe.empty())
    order.trial = {kept.probe, kept.servername};
  order.noTrial = arguments.noProbe;
  order.timeoutSeconds = arguments.timeout.seconds;
  if (!arguments.noHook) order.hook = kept.hook;
  order.hookVariables = {{"CERTCTL_STORE", session.path()}};
  order.hookTimeoutSeconds = arguments.hookTimeout.seconds;
  const lifecycle::InstallOutcome outcome =
      lifecycle::Install(store, *manager, order, lifecycle::TlsTrial(*manager, type));
  manager.Reset();
  session.ThrowIfStoreFailed(outcome.result);
  const result_t result = outcome.result;
  const std::string source = arguments.file.path.empty() ? "the pending certificate" : arguments.file.path;
  if (!outcome.trial.proven())
    throw Failure(kExitFailed, outcome.error + " (certctl install " + keyword +
                                   " tries it there again, --no-probe installs it untried)");
  if (result == results::InvalidState && !outcome.anchored) throw NoAnchorsRefusal(outcome.error);
  if (result == results::InvalidState)
    throw Failure(kExitFailed, "the " + keyword + " pending key changed during the trial: nothing was installed",
                  result);
  if (result == results::NotFound)
    throw Failure(kExitUsage, outcome.error + ": certctl request " + keyword + " makes a key, install " + keyword +
                                  " FILE takes its signed certificate");
  if (result == results::CertificateOutOfValidityPeriod)
    throw Failure(kExitFailed, DescribeResult(result) + ": " + outcome.error, result);
  if (result == results::NotMatched)
    throw Failure(kExitUsage, source + ": " + outcome.error +
                                  ": the CA must sign the pending key's request (certctl request " + keyword +
                                  " writes it again)");
  if (result == results::Prohibited) throw Failure(kExitFailed, source + " is refused: " + outcome.error, result);
  if (result == results::InvalidArgument) throw Failure(kExitUsage, source + ": " + outcome.error);
  if (result == results::AccessDenied) throw Failure(kExitFailed, LockedClientSlot(type), result);
  if (ozo::Failed(result)) throw Failure(kExitFailed, Refusal(result), result);
  session.Commit();
  const lifecycle::Installation& installed = outcome.installation;
  Json facts = {{"type", keyword},
                {"subject", installed.subject},
                {"serial", installed.serial},
                {"notAfter", IsoFromSeconds(installed.notAfter)}};
  if (!outcome.tried.empty()) facts["trial"] = {{"peer", outcome.tried.peer}, {"works", true}};
  if (!outcome.hookError.empty()) facts["hookError"] = outcome.hookError;
  Announce(global,
           "client certificate of " + keyword + " installed: " + installed.subject +
               (outcome.tried.empty() ? "" : "; it works against " + outcome.tried.peer),
           facts);
  if (!outcome.hookError.empty())
    throw Failure(kExitFailed, "the " + keyword + " client certificate is installed, but " + outcome.hookError);
  return kExitOk;
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
       Option(&Arguments::timeout, "--timeout", "SECONDS", "give up the trial after SECONDS"),
       Option(&Arguments::hookTimeout, "--hook-timeout", "SECONDS", "stop the renewal settings' hook after SECONDS"),
       Switch(&Arguments::noProbe, "--no-probe",
              "install untried, though the renewal settings or a refused trial name a peer"),
       Switch(&Arguments::noHook, "--no-hook", "run not the renewal settings' hook")},
      Install);
}

}  // namespace certctl::commands
