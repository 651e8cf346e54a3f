// renew: a type's client certificate renewed over CMP now, or every
// configured one that is due (--all --due, as the timer runs it); enroll:
// the first certificate of an empty slot, with the CA's one-time secret.
// The lifecycle library decides and records; this file asks and tells.
#include <algorithm>
#include <ctime>

#include "host/lifecycle/cmp_authority.h"
#include "host/lifecycle/renewal.h"
#include "host/lifecycle/schedule.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/passwords.h"
#include "tools/certctl/lib/renewal_facts.h"
#include "tools/certctl/lib/trust_anchors.h"

namespace certctl::commands {
namespace {

namespace lifecycle = host::lifecycle;
namespace results = ozo::results;

// How long an exchange with the CA may take unless --timeout says: longer
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
  Timeout hookTimeout{host::lifecycle::kDefaultHookSeconds};
  bool noProbe = false;
  bool all = false;
  bool due = false;
};

// A run of one slot: the library's order, and how long its network may take.
struct Order {
  explicit Order(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  lifecycle::RenewalOrder renewal;
  double hookTimeoutSeconds = host::lifecycle::kDefaultHookSeconds;
};

// The order for `type`: its stored settings, with the options over them.
Order OrderFor(ivo::PeerType type, const lifecycle::RenewalConfig* stored, const Arguments& arguments) {
  Order order(type);
  lifecycle::RenewalConfig& config = order.renewal.config;
  order.renewal.type = type;
  order.renewal.initiator = UserInitiator();
  if (stored) config = *stored;
  if (arguments.server) config.server = arguments.server->url;
  if (arguments.command) config.command = arguments.command->name;
  order.renewal.trustedOrigin = "the certificates kept with the renewal settings";
  if (arguments.trusted) {
    config.trusted = arguments.trusted->certificates;
    order.renewal.trustedOrigin = arguments.trusted->path;
  }
  if (arguments.sender) config.sender = arguments.sender->der;
  if (arguments.probe) config.probe = arguments.probe->text();
  if (arguments.servername) config.servername = *arguments.servername;
  if (arguments.noProbe && arguments.probe) throw Failure(kExitUsage, "--probe and --no-probe exclude each other");
  order.renewal.noTrial = arguments.noProbe;
  if (config.server.empty())
    throw Failure(kExitUsage, std::string("no CA is named for ") + type.keyword() +
                                  ": give --server URL, or keep one with certctl renew-config " + type.keyword() +
                                  " --server URL");
  order.renewal.timeoutSeconds = arguments.timeout.seconds;
  order.hookTimeoutSeconds = arguments.hookTimeout.seconds;
  return order;
}

// What a run came to, told: a success on stdout once durable; a refusal or
// failure as a Failure with its exit status.
int Tell(const GlobalOptions& global, const Order& order, const lifecycle::RenewalOutcome& outcome) {
  const std::string keyword = order.type.keyword();
  const std::string& server = order.renewal.config.server;
  if (outcome.step == lifecycle::RenewalStep::StoreFailed)
    throw Failure(kExitStore, "the store cannot be used: " + DescribeResult(outcome.result), outcome.result);
  if (outcome.step == lifecycle::RenewalStep::Failed) {
    const lifecycle::RenewalState& state = outcome.state;
    const bool locked = outcome.refusal == lifecycle::RenewalRefusal::Locked;
    throw Failure(kExitFailed, (locked ? DescribeResult(outcome.result) + ": " : "") + outcome.error +
                                   (locked ? " (certctl policy unlock " + keyword + " client allows it)" : "") +
                                   (outcome.refusedSender.empty()
                                        ? ""
                                        : " (--sender '" + outcome.refusedSender + "' accepts that signer by name)") +
                                   "; " + std::to_string(state.failures) +
                                   (state.failures == 1 ? " failure" : " failures in a row") +
                                   (outcome.nextAttempt ? ", next attempt " + IsoFromSeconds(*outcome.nextAttempt)
                                                        : "; nothing retries it on its own"));
  }
  switch (outcome.refusal) {
    case lifecycle::RenewalRefusal::None:
    case lifecycle::RenewalRefusal::Locked:  // counted as a failure above
      break;
    case lifecycle::RenewalRefusal::NoAnchors:
      throw NoAnchorsRefusal(outcome.error);
    case lifecycle::RenewalRefusal::SlotHolds:
      throw Failure(kExitUsage, outcome.error + " already: certctl renew " + keyword + " renews it");
    case lifecycle::RenewalRefusal::SlotEmpty:
      throw Failure(kExitUsage, outcome.error + ": certctl enroll " + keyword + " makes its first certificate");
    case lifecycle::RenewalRefusal::Component:
      throw Failure(kExitFailed, Refusal(outcome.result) + ": " + outcome.error, outcome.result);
    case lifecycle::RenewalRefusal::Unreadable:
    case lifecycle::RenewalRefusal::BadRequest:
    case lifecycle::RenewalRefusal::KeyChanged:
      throw Failure(kExitFailed, outcome.error, outcome.result);
  }
  const lifecycle::Installation& installed = outcome.installation;
  Json facts = {{"type", keyword},
                {"from", outcome.fromTheCa ? server : "the certificate kept pending"},
                {"subject", installed.subject},
                {"serial", installed.serial},
                {"notAfter", IsoFromSeconds(installed.notAfter)},
                {"due", IsoFromSeconds(outcome.due)},
                {"tracked", outcome.tracked}};
  if (!outcome.tried.empty()) facts["trial"] = {{"peer", outcome.tried.peer}, {"works", true}};
  if (outcome.step == lifecycle::RenewalStep::HookFailed) facts["hookError"] = outcome.error;
  Announce(global,
           "client certificate of " + keyword + (order.renewal.enroll ? " enrolled" : " renewed") +
               (outcome.fromTheCa ? " by " + server : " with the certificate kept pending") + ": " + installed.subject +
               ", serial " + installed.serial + ", ends " + IsoFromSeconds(installed.notAfter) +
               (outcome.tried.empty() ? "" : "; it works against " + outcome.tried.peer) +
               (outcome.tracked ? "; next renewal due " + IsoFromSeconds(outcome.due)
                                : "; due for renewal " + IsoFromSeconds(outcome.due) +
                                      ", but nothing renews it on its own (certctl renew-config " + keyword + ")"),
           facts);
  if (outcome.beforeTooLong)
    PrintFailure("warning: the new " + keyword + " client certificate lives less than the " +
                 std::to_string(*order.renewal.config.beforeDays) +
                 " days of --before: it is due at two thirds of its lifetime (certctl renew-config " + keyword +
                 " --before DAYS)");
  if (outcome.step == lifecycle::RenewalStep::HookFailed)
    throw Failure(kExitFailed, "the " + keyword + " client certificate is renewed, but " + outcome.error);
  return kExitOk;
}

// Runs the order in a session of its own: the library's steps, the trial
// against the peer when one is named.
int Run(const GlobalOptions& global, const Order& order) {
  Session session(global, Access::WriteSecrets);
  ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  lifecycle::SqliteLifecycleStore store(session.store());
  lifecycle::CmpAuthority ca;
  lifecycle::RenewalDependencies with(store, *manager, ca);
  with.trial = lifecycle::TlsTrial(*manager, order.type);
  with.hookVariables = {{"CERTCTL_STORE", session.path()}};  // certctl in the hook works on this store
  with.hookTimeoutSeconds = order.hookTimeoutSeconds;
  const lifecycle::RenewalOutcome outcome = lifecycle::RunRenewal(order.renewal, with);
  manager.Reset();
  session.ThrowIfStoreFailed(outcome.result);
  return Tell(global, order, outcome);
}

// The slots to renew, read in one read-only session: TYPE, or each one with
// settings; with --due, whether each is due (and past any backoff).
struct Candidate {
  RenewalFacts facts;
  bool ready = true;
};

std::vector<Candidate> Candidates(const GlobalOptions& global, const Arguments& arguments) {
  Session session(global, Access::Read);
  const std::int64_t now = std::time(nullptr);
  std::vector<RenewalFacts> facts = ReadRenewalFacts(session, ReadInventory(session));
  if (arguments.type && std::none_of(facts.begin(), facts.end(),
                                     [&](const RenewalFacts& fact) { return fact.type == arguments.type->value; })) {
    facts.emplace_back(arguments.type->value);
  }
  std::vector<Candidate> chosen;
  for (const RenewalFacts& fact : facts)
    if (arguments.type ? fact.type == arguments.type->value : fact.config.has_value())
      chosen.push_back({fact, !arguments.due || (fact.due && lifecycle::RenewalDue(now, *fact.due, fact.state))});
  return chosen;
}

int Renew(const GlobalOptions& global, const Arguments& arguments) {
  if (arguments.all == arguments.type.has_value()) throw Failure(kExitUsage, "renew takes TYPE or --all");
  const std::vector<Candidate> candidates = Candidates(global, arguments);
  if (candidates.empty()) {
    Announce(global, "no client certificate has renewal settings (certctl renew-config TYPE --server URL)",
             {{"renewed", Json::array()}});
    return kExitFalse;
  }
  int renewed = 0, failed = 0;
  for (const Candidate& candidate : candidates) {
    const RenewalFacts& facts = candidate.facts;
    const std::string keyword = facts.type.keyword();
    if (!candidate.ready) {
      const std::int64_t next = facts.due ? lifecycle::NextAttempt(*facts.due, facts.state) : 0;
      Json waiting = {{"type", keyword}, {"waiting", true}};
      if (facts.due) waiting.update({{"due", IsoFromSeconds(*facts.due)}, {"nextAttempt", IsoFromSeconds(next)}});
      Announce(global,
               !facts.due          ? keyword + ": no client certificate to renew"
               : next > *facts.due ? keyword + ": due since " + IsoFromSeconds(*facts.due) + ", next attempt " +
                                         IsoFromSeconds(next) + " after " + std::to_string(facts.state.failures) +
                                         (facts.state.failures == 1 ? " failure" : " failures")
                                   : keyword + ": not due before " + IsoFromSeconds(*facts.due),
               waiting);
      continue;
    }
    try {
      Run(global, OrderFor(facts.type, facts.config ? &*facts.config : nullptr, arguments));
      ++renewed;
    } catch (const Failure& failure) {
      if (arguments.type) throw;  // main names the command and its type
      // --all goes on with the next slot, and names the one that failed.
      ReportFailure(global, "renew " + keyword + ": " + failure.what(), failure.exitCode);
      failed = std::max(failed, failure.exitCode);
    }
  }
  return failed ? failed : renewed ? kExitOk : kExitFalse;
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
  Arguments renewal;
  renewal.server = arguments.server;
  renewal.trusted = arguments.trusted;
  renewal.sender = arguments.sender;
  renewal.probe = arguments.probe;
  renewal.servername = arguments.servername;
  renewal.timeout = arguments.timeout;
  Order order = OrderFor(arguments.type.value, nullptr, renewal);
  order.renewal.enroll = true;
  order.renewal.keepSettings = !arguments.noTrack;
  order.renewal.reference = arguments.reference;
  const host::Secret secret = ReadPassword({arguments.secretFile.path, ""}, "");
  order.renewal.secret = &secret.text();
  order.renewal.subject = arguments.subject.fields;
  for (const AlternativeName& name : arguments.alternativeNames) order.renewal.alternativeNames.push_back(name.text);
  return Run(global, order);
}

}  // namespace

Command Renew() {
  return Define<Arguments>(
      "renew", "the client certificate renewed over CMP", {OptionalOperand(&Arguments::type, "TYPE")},
      {Option(&Arguments::server, "--server", "URL", "the CA's CMP address (default: the slot's renewal settings)"),
       Option(&Arguments::trusted, "--trusted", "FILE",
              "the CA's answers and the new certificate must chain to these (default: the server certificate)"),
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
       Switch(&Arguments::all, "--all", "every slot with renewal settings"),
       Switch(&Arguments::due, "--due", "only those whose certificate is due")},
      Renew);
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
