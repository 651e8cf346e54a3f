// renew: a type's client certificate renewed over CMP now, or every
// configured one (that is due: --all --due, as the timer runs it); enroll:
// the first certificate of an empty slot, with the CA's one-time secret.
// The lifecycle library decides and records; this file asks and tells.
#include "host/lifecycle/renewal.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/lifecycle_run.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/passwords.h"
#include "tools/certctl/lib/trust_anchors.h"

namespace certctl::commands {
namespace {

namespace lifecycle = host::lifecycle;

// How long a run's network work may take unless --timeout says: longer
// than a probe's, since a CA may have the client poll.
constexpr int kExchangeTimeoutSeconds = 30;

struct Arguments {
  std::optional<PeerType> type;
  std::optional<CmpServer> server;
  std::optional<TrustFile> trusted;
  std::optional<DistinguishedName> sender;
  std::optional<CmpCommand> command;
  std::optional<host::tls::PeerAddress> probe;
  std::optional<std::string> servername;
  Timeout timeout{kExchangeTimeoutSeconds};
  Timeout hookTimeout{lifecycle::kDefaultHookSeconds};
  bool noProbe = false;
  bool all = false;
  bool due = false;
  bool dryRun = false;
};

// What the options set over the slot's kept settings, for this run.
lifecycle::Overrides OverridesOf(const Arguments& arguments) {
  lifecycle::Overrides overrides;
  if (arguments.server) overrides.server = arguments.server->url;
  if (arguments.command) overrides.command = arguments.command->name;
  if (arguments.trusted) {
    overrides.trusted = arguments.trusted->certificates;
    overrides.trustedOrigin = arguments.trusted->path;
  }
  if (arguments.sender) overrides.sender = arguments.sender->der;
  if (arguments.probe || arguments.servername)
    overrides.trial =
        lifecycle::TrialTarget{arguments.probe ? arguments.probe->text() : "", arguments.servername.value_or("")};
  return overrides;
}

// What a run came to, told: the line and facts of a success once durable,
// or the Failure with its exit status.
struct Told {
  std::string line;
  Json facts;
  std::optional<Failure> failure;
};

// A dry run told: what held, or the first reason a renewal could not go
// ahead now (exit 2).
Told ToldRehearsal(ivo::PeerType type, const lifecycle::RenewalOutcome& outcome) {
  const std::string keyword = type.keyword();
  Told told;
  if (!outcome.status.ok()) {
    told.failure = Failure(kExitFailed,
                           "dry run: " + outcome.status.words() +
                               (outcome.refusedSender.empty()
                                    ? ""
                                    : " (--sender '" + outcome.refusedSender + "' accepts that signer by name)") +
                               "; nothing changed",
                           outcome.status.code());
    return told;
  }
  told.facts = {{"type", keyword}, {"dryRun", true}, {"server", outcome.server}, {"ready", true}};
  if (!outcome.tried.empty()) told.facts["trial"] = {{"peer", outcome.tried.peer}, {"works", true}};
  told.line = "dry run of " + keyword + ": the CA at " + outcome.server +
              " answers under the current pair, its signature trusted; " +
              (outcome.tried.empty() ? "no peer is named, so the new pair would go in untried"
                                     : "the current pair works against " + outcome.tried.peer) +
              "; a renewal could go ahead now (nothing changed)";
  return told;
}

Told Tell(ivo::PeerType type, bool enroll, const lifecycle::RenewalOutcome& outcome) {
  const std::string keyword = type.keyword();
  const std::string& words = outcome.status.words();
  const ozo::result_t result = outcome.status.code();
  Told told;
  if (outcome.step == lifecycle::RenewalStep::StoreFailed) {
    told.failure = Failure(kExitStore, words, result);
  } else if (outcome.step == lifecycle::RenewalStep::Failed) {
    const lifecycle::RenewalState& state = outcome.state;
    const bool locked = outcome.refusal == lifecycle::RenewalRefusal::Locked;
    told.failure =
        Failure(kExitFailed,
                (locked ? host::ResultText(result) + ": " : "") + words +
                    (locked ? " (certctl policy unlock " + keyword + " client allows it)" : "") +
                    (outcome.refusedSender.empty()
                         ? ""
                         : " (--sender '" + outcome.refusedSender + "' accepts that signer by name)") +
                    "; " + std::to_string(state.failures) + (state.failures == 1 ? " failure" : " failures in a row") +
                    (outcome.nextAttempt ? ", next attempt " + IsoFromSeconds(*outcome.nextAttempt)
                                         : "; nothing retries it on its own"),
                result);
  } else if (outcome.step == lifecycle::RenewalStep::Refused) {
    switch (outcome.refusal) {
      case lifecycle::RenewalRefusal::NoAnchors:
        told.failure = NoAnchorsRefusal(words);
        break;
      case lifecycle::RenewalRefusal::SlotHolds:
        told.failure = Failure(kExitUsage, words + " already: certctl renew " + keyword + " renews it");
        break;
      case lifecycle::RenewalRefusal::SlotEmpty:
        told.failure = Failure(kExitUsage, words + ": certctl enroll " + keyword + " makes its first certificate");
        break;
      case lifecycle::RenewalRefusal::BadRequest:
        told.failure = Failure(
            kExitUsage, words + " (--server URL, or certctl renew-config " + keyword + " --server URL keeps one)");
        break;
      case lifecycle::RenewalRefusal::Component:
        told.failure = Failure(kExitFailed, Refusal(result) + ": " + words, result);
        break;
      default:
        told.failure = Failure(kExitFailed, words, result);
    }
  }
  if (told.failure) return told;
  if (outcome.step == lifecycle::RenewalStep::Rehearsed) return ToldRehearsal(type, outcome);
  const lifecycle::Installation& installed = outcome.installation;
  told.facts = {{"type", keyword},
                {"from", outcome.fromTheCa ? outcome.server : "the certificate kept pending"},
                {"subject", installed.subject},
                {"serial", installed.serial},
                {"notAfter", IsoFromSeconds(installed.notAfter)},
                {"due", IsoFromSeconds(outcome.due)},
                {"tracked", outcome.tracked}};
  if (!outcome.tried.empty()) told.facts["trial"] = {{"peer", outcome.tried.peer}, {"works", true}};
  if (outcome.step == lifecycle::RenewalStep::HookFailed) told.facts["hookError"] = words;
  told.line = "client certificate of " + keyword + (enroll ? " enrolled" : " renewed") +
              (outcome.fromTheCa ? " by " + outcome.server : " with the certificate kept pending") + ": " +
              installed.subject + ", serial " + installed.serial + ", ends " + IsoFromSeconds(installed.notAfter) +
              (outcome.tried.empty() ? "" : "; it works against " + outcome.tried.peer) +
              (outcome.tracked ? "; next renewal due " + IsoFromSeconds(outcome.due)
                               : "; due for renewal " + IsoFromSeconds(outcome.due) +
                                     ", but nothing renews it on its own (certctl renew-config " + keyword + ")");
  if (outcome.beforeTooLong)
    PrintFailure("warning: the new " + keyword + " client certificate lives less than its --before days" +
                 ": it is due at two thirds of its lifetime (certctl renew-config " + keyword + " --before DAYS)");
  if (outcome.endsSooner)
    PrintFailure("warning: the new " + keyword + " client certificate ends before the one it replaced, on " +
                 IsoFromSeconds(installed.notAfter));
  if (outcome.step == lifecycle::RenewalStep::HookFailed)
    told.failure = Failure(kExitFailed, "the " + keyword + " client certificate is renewed, but " + words);
  return told;
}

// One slot renewed now, its outcome told; throws its failure.
int RenewOne(const GlobalOptions& global, const Arguments& arguments) {
  lifecycle::RenewalOrder order;
  order.type = arguments.type->value;
  order.overrides = OverridesOf(arguments);
  order.tryPair = !arguments.noProbe;
  order.timeoutSeconds = arguments.timeout.seconds;
  order.initiator = host::ProcessUser();
  LifecycleRun run(global, arguments.hookTimeout.seconds, arguments.dryRun ? Access::Read : Access::WriteSecrets);
  const Told told =
      Tell(*order.type, false,
           arguments.dryRun ? lifecycle::RehearseRenewal(order, run.with()) : lifecycle::RunRenewal(order, run.with()));
  if (!told.line.empty()) Announce(global, told.line, told.facts);
  if (told.failure) throw *told.failure;
  return kExitOk;
}

// A slot not due yet, told: when it is due, or after failures when the
// backoff lets the timer try again.
Told Waiting(const lifecycle::SlotRun& slot) {
  const std::string keyword = slot.type.keyword();
  Told told;
  told.facts = {{"type", keyword}, {"waiting", true}, {"due", IsoFromSeconds(*slot.due)}};
  if (slot.nextAttempt) told.facts["nextAttempt"] = IsoFromSeconds(*slot.nextAttempt);
  told.line = slot.nextAttempt && *slot.nextAttempt > *slot.due
                  ? keyword + ": due since " + IsoFromSeconds(*slot.due) + ", next attempt " +
                        IsoFromSeconds(*slot.nextAttempt) + " after " + std::to_string(slot.state.failures) +
                        (slot.state.failures == 1 ? " failure" : " failures")
                  : keyword + ": not due before " + IsoFromSeconds(*slot.due);
  return told;
}

// Every configured slot (that is due), each told; --json prints one array.
int RenewAll(const GlobalOptions& global, const Arguments& arguments) {
  LifecycleRun run(global, arguments.hookTimeout.seconds);
  std::vector<lifecycle::SlotRun> slots;
  ThrowIfStoreFailed(
      lifecycle::RenewAll(run.with(), arguments.due, arguments.timeout.seconds, host::ProcessUser(), slots));
  if (slots.empty()) {
    Announce(global, "no client certificate has renewal settings (certctl renew-config TYPE --server URL)",
             global.json ? Json::array() : Json(nullptr));
    return kExitFalse;
  }
  int worst = kExitOk;
  bool renewed = false;
  Json all = Json::array();
  for (const lifecycle::SlotRun& slot : slots) {
    const Told told = slot.ran ? Tell(slot.type, false, slot.outcome) : Waiting(slot);
    renewed |= slot.ran && !told.failure;
    if (told.failure) {
      worst = std::max(worst, told.failure->exitCode);
      if (global.json)
        all.push_back(
            {{"type", slot.type.keyword()}, {"error", told.failure->what()}, {"exit", told.failure->exitCode}});
      else
        ReportFailure(global, "renew " + std::string(slot.type.keyword()) + ": " + told.failure->what(),
                      told.failure->exitCode);
    }
    if (told.line.empty()) continue;
    if (global.json)
      all.push_back(told.facts);
    else
      Announce(global, told.line);
  }
  if (global.json) PrintJson(all);
  return worst != kExitOk ? worst : renewed ? kExitOk : kExitFalse;
}

int Renew(const GlobalOptions& global, const Arguments& arguments) {
  if (arguments.all == arguments.type.has_value()) throw Failure(kExitUsage, "renew takes TYPE or --all");
  if (arguments.noProbe && arguments.probe) throw Failure(kExitUsage, "--probe and --no-probe exclude each other");
  if (arguments.due && !arguments.all) throw Failure(kExitUsage, "--due goes with --all");
  if (arguments.dryRun && arguments.all) throw Failure(kExitUsage, "--dry-run goes with TYPE: one slot at a time");
  return arguments.all ? RenewAll(global, arguments) : RenewOne(global, arguments);
}

struct EnrollArguments {
  PeerType type;
  CmpServer server;
  std::string reference;
  InputFile secretFile;
  DistinguishedName subject;
  std::vector<AlternativeName> alternativeNames;
  std::optional<TrustFile> trusted;
  std::optional<DistinguishedName> sender;
  std::optional<host::tls::PeerAddress> probe;
  std::optional<std::string> servername;
  Timeout timeout{kExchangeTimeoutSeconds};
  bool noTrack = false;
};

int Enroll(const GlobalOptions& global, const EnrollArguments& arguments) {
  lifecycle::EnrollmentOrder order;
  order.type = arguments.type.value;
  order.settings.server = arguments.server.url;
  if (arguments.trusted) {
    order.settings.trusted = arguments.trusted->certificates;
    order.trustedOrigin = arguments.trusted->path;
  }
  if (arguments.sender) order.settings.sender = arguments.sender->der;
  if (arguments.probe) order.settings.trialPeer = arguments.probe->text();
  order.settings.trialServername = arguments.servername.value_or("");
  order.keepSettings = !arguments.noTrack;
  order.reference = arguments.reference;
  order.secret = ReadPassword({arguments.secretFile.path, ""}, "");
  order.subject = arguments.subject.fields;
  for (const AlternativeName& name : arguments.alternativeNames) order.alternativeNames.push_back(name.text);
  order.timeoutSeconds = arguments.timeout.seconds;
  order.initiator = host::ProcessUser();
  LifecycleRun run(global);
  const Told told = Tell(*order.type, true, lifecycle::RunEnrollment(order, run.with()));
  if (!told.line.empty()) Announce(global, told.line, told.facts);
  if (told.failure) throw *told.failure;
  return kExitOk;
}

}  // namespace

constexpr const char* kRenewDetails = R"(A slot is due at two thirds of its certificate's lifetime, or --before DAYS
(renew-config) before its end when that comes first. --all --due renews the
slots that are due and whose backoff after a failure (1 h, 2 h, 4 h ... a
day) has passed, as certctl-renew.timer runs it twice a day.
After a renewal the settings' hook (renew-config --exec) runs through /bin/sh
with CERTCTL_STORE, CERTCTL_TYPE, CERTCTL_SUBJECT, CERTCTL_SERIAL,
CERTCTL_NOT_AFTER and CERTCTL_CHAIN_FILE (the new chain as PEM in an
owner-only file removed after the hook; never the key). Its output goes to
standard error; it is stopped after --hook-timeout, and a failed hook leaves
the new pair in place.
)";

Command Renew() {
  Command renew = Define<Arguments>(
      "renew", "the client certificate renewed over CMP", {OptionalOperand(&Arguments::type, "TYPE")},
      {Option(&Arguments::server, "--server", "URL", "the CA's CMP address (default: the slot's renewal settings)"),
       Option(&Arguments::trusted, "--trusted", "FILE",
              "the CA's answers and the new certificate must chain to these (default: the settings')"),
       Option(&Arguments::sender, "--sender", "DN",
              "the subject that signs the CA's answers (default: the CA or an RA)"),
       Option(&Arguments::command, "--cmd", "kur|cr",
              "a key update request or a certification request (default: the settings', else kur)"),
       Option(&Arguments::probe, "--probe", "HOST[:PORT]", "try the new pair against the peer first"),
       Option(&Arguments::servername, "--servername", "NAME", "the name sent and checked by the probe"),
       Option(&Arguments::timeout, "--timeout", "SECONDS",
              "bound the run's network work: the CA's exchange, polling included, and the trial"),
       Option(&Arguments::hookTimeout, "--hook-timeout", "SECONDS", "stop the hook after SECONDS"),
       Switch(&Arguments::noProbe, "--no-probe", "install untried, though settings or a refused trial name a peer"),
       Switch(&Arguments::dryRun, "--dry-run",
              "check what a renewal needs (settings, the CA's answer, the current pair against the peer); change "
              "nothing"),
       InsteadOfOperands(Switch(&Arguments::all, "--all", "every slot with renewal settings")),
       InsteadOfOperands(Switch(&Arguments::due, "--due",
                                "with --all: only those due now (after any backoff), as the timer runs it"))},
      Renew);
  renew.details = kRenewDetails;
  return renew;
}

Command Enroll() {
  return Define<EnrollArguments>(
      "enroll", "the first client certificate of an empty slot, over CMP", {Operand(&EnrollArguments::type, "TYPE")},
      {Option(&EnrollArguments::server, "--server", "URL", "the CA's CMP address", true),
       Option(&EnrollArguments::reference, "--reference", "REF", "the reference the CA gave with the secret", true),
       Option(&EnrollArguments::secretFile, "--secret-file", "FILE",
              "the CA's one-time secret: FILE's first line (- for stdin)", true),
       Option(&EnrollArguments::subject, "--subject", "DN", "the subject asked for", true),
       Option(&EnrollArguments::alternativeNames, "--san", "NAME", "a subject alternative name (repeatable)"),
       Option(&EnrollArguments::trusted, "--trusted", "FILE",
              "the CA's answers and the new certificate must chain to these"),
       Option(&EnrollArguments::sender, "--sender", "DN",
              "the subject that signs the CA's answers (default: the CA or an RA)"),
       Option(&EnrollArguments::probe, "--probe", "HOST[:PORT]", "try the new pair against the peer first"),
       Option(&EnrollArguments::servername, "--servername", "NAME",
              "the name sent and checked by --probe (kept with the settings)"),
       Option(&EnrollArguments::timeout, "--timeout", "SECONDS", "bound the exchange with the CA"),
       Switch(&EnrollArguments::noTrack, "--no-track",
              "keep no renewal settings (by default: the CA, its trust, the sender and the probe)")},
      Enroll);
}

}  // namespace certctl::commands
