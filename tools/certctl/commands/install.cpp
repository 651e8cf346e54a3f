// install: the signed certificate of a slot's pending key, wrapped with the
// key into a container under a fresh random password and stored through the
// component; with --probe, first tried against the peer.
#include "host/lifecycle/install.h"

#include <ctime>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/lifecycle_run.h"
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
  lifecycle::InstallOrder order;
  order.type = type;
  order.signedFile.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (arguments.trusted) {
    order.trusted = arguments.trusted->certificates;
    order.trustedOrigin = arguments.trusted->path;
  }
  if (arguments.probe) order.trial = lifecycle::TrialTarget{arguments.probe->text(), arguments.servername};
  order.tryPair = !arguments.noProbe;
  order.runHook = !arguments.noHook;
  order.timeoutSeconds = arguments.timeout.seconds;
  order.initiator = host::ProcessUser();
  LifecycleRun run(global, arguments.hookTimeout.seconds);
  const lifecycle::InstallOutcome outcome = lifecycle::Install(order, run.with());
  ThrowIfStoreFailed(outcome.status);
  const result_t result = outcome.status.code();
  const std::string& error = outcome.status.words();
  const std::string source = arguments.file.path.empty() ? "the pending certificate" : arguments.file.path;
  if (!outcome.trial.proven())
    throw Failure(kExitFailed,
                  error + " (certctl install " + keyword + " tries it there again, --no-probe installs it untried)");
  if (result == results::InvalidState && !outcome.anchored) throw NoAnchorsRefusal(error);
  if (result == results::InvalidState) throw Failure(kExitFailed, error, result);
  if (result == results::NotFound)
    throw Failure(kExitUsage, error + ": certctl request " + keyword + " makes a key, install " + keyword +
                                  " FILE takes its signed certificate");
  if (result == results::CertificateOutOfValidityPeriod)
    throw Failure(kExitFailed, host::ResultText(result) + ": " + error, result);
  if (result == results::NotMatched)
    throw Failure(kExitUsage, source + ": " + error + ": the CA must sign the pending key's request (certctl request " +
                                  keyword + " writes it again)");
  if (result == results::Prohibited) throw Failure(kExitFailed, source + " is refused: " + error, result);
  if (result == results::InvalidArgument) throw Failure(kExitUsage, source + ": " + error);
  if (result == results::AccessDenied) throw Failure(kExitFailed, LockedClientSlot(type), result);
  if (ozo::Failed(result)) throw Failure(kExitFailed, Refusal(result), result);
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
