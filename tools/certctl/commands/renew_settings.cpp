// renew-config: how a slot's client certificate is renewed on its own;
// renew-status: what its renewals have come to.
#include <cstdio>
#include <ctime>
#include <iostream>

#include "host/lifecycle/settings.h"
#include "host/lifecycle/slots.h"
#include "host/lifecycle/trust.h"
#include "ossl/text.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/lifecycle_run.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/terminal_text.h"
#include "tools/certctl/lib/trust_anchors.h"

namespace certctl::commands {
namespace {

using Config = host::lifecycle::RenewalConfig;
using State = host::lifecycle::RenewalState;

struct ConfigArguments {
  PeerType type;
  std::optional<CmpServer> server;
  std::optional<TrustFile> trusted;
  std::optional<DistinguishedName> sender;
  std::optional<CmpCommand> command;
  std::optional<host::tls::PeerAddress> probe;
  std::optional<std::string> servername;
  std::optional<Days> before;
  std::optional<std::string> hook;
  bool show = false;
  bool remove = false;
};

// The kept expected sender as people read names ("CN=ra.example").
std::string SenderText(const Config& config) {
  const auto* der = reinterpret_cast<const unsigned char*>(config.sender.data());
  const ossl::UniquePtr<X509_NAME> name(d2i_X509_NAME(nullptr, &der, static_cast<long>(config.sender.size())));
  return name ? ossl::NameText(name.get()) : "?";
}

Json ConfigJson(ivo::PeerType type, const Config& config) {
  Json json = {{"type", type.keyword()},
               {"server", config.server},
               {"cmd", config.command},
               {"trusted", !config.trusted.empty()}};
  if (!config.trialPeer.empty()) json["probe"] = config.trialPeer;
  if (!config.trialServername.empty()) json["servername"] = config.trialServername;
  if (config.beforeDays) json["beforeDays"] = *config.beforeDays;
  if (!config.hook.empty()) json["exec"] = config.hook;
  if (!config.sender.empty()) json["sender"] = SenderText(config);
  return json;
}

void PrintConfig(const GlobalOptions& global, Session& session, ivo::PeerType type, const Config& config) {
  if (global.json) return PrintJson(ConfigJson(type, config));
  const ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  const host::lifecycle::TrustAnchors anchors =
      host::lifecycle::SlotAnchors(*manager, type, config.trusted, "the certificates kept with the settings");
  const std::string problem = host::lifecycle::AnchorsProblem(anchors);
  const std::string trusted = problem.empty() ? anchors.origin
                              : anchors.certificates.empty()
                                  ? "nothing: each renewal is refused until --trusted CA-FILE is given"
                                  : problem + ": each renewal is refused until --trusted CA-FILE is given";
  std::printf("server   %s\ncmd      %s\ntrusted  %s\n", Printable(config.server).c_str(), config.command.c_str(),
              Printable(trusted).c_str());
  if (!config.trialPeer.empty()) std::printf("probe    %s\n", Printable(config.trialPeer).c_str());
  if (!config.trialServername.empty()) std::printf("name     %s\n", Printable(config.trialServername).c_str());
  if (config.beforeDays) std::printf("before   %lld days\n", static_cast<long long>(*config.beforeDays));
  if (!config.hook.empty()) std::printf("exec     %s\n", Printable(config.hook).c_str());
  if (!config.sender.empty()) std::printf("sender   %s\n", Printable(SenderText(config)).c_str());
}

// The settings as kept now, or none.
std::optional<Config> KeptSettings(Session& session, ivo::PeerType type) {
  Config config;
  const ozo::result_t read = session.store().renewalConfigs().Get(type, config);
  session.ThrowIfStoreFailed(read);
  return ozo::Succeeded(read) ? std::optional(config) : std::nullopt;
}

int Configure(const GlobalOptions& global, const ConfigArguments& arguments) {
  const ivo::PeerType type = arguments.type.value;
  const std::string keyword = type.keyword();
  const bool changes = arguments.server || arguments.trusted || arguments.command || arguments.probe ||
                       arguments.servername || arguments.before || arguments.hook || arguments.sender;
  if (!arguments.show && !arguments.remove && !changes)
    throw Failure(kExitUsage, "renew-config takes --show, --remove, or the settings to keep");
  const Json none = {{"type", keyword}, {"configured", false}};
  if (arguments.show) {
    Session session(global, Access::Read);
    const std::optional<Config> kept = KeptSettings(session, type);
    if (!kept) return Announce(global, keyword + " has no renewal settings", none), kExitFalse;
    PrintConfig(global, session, type, *kept);
    return kExitOk;
  }
  LifecycleRun run(global);
  if (arguments.remove) {
    const host::Status removed = host::lifecycle::RemoveRenewalSettings(run.store(), type, host::ProcessUser());
    ThrowIfStoreFailed(removed);
    if (removed.code() == ozo::results::False)
      return Announce(global, keyword + " has no renewal settings", none), kExitFalse;
    Announce(global, "renewal settings of " + keyword + " removed", none);
    return kExitOk;
  }
  host::lifecycle::Overrides given;
  if (arguments.server) given.server = arguments.server->url;
  if (arguments.command) given.command = arguments.command->name;
  if (arguments.trusted) given.trusted = arguments.trusted->certificates;
  if (arguments.sender) given.sender = arguments.sender->der;
  if (arguments.probe || arguments.servername)
    given.trial =
        host::lifecycle::TrialTarget{arguments.probe ? arguments.probe->text() : "", arguments.servername.value_or("")};
  if (arguments.before) given.beforeDays = arguments.before->value;
  if (arguments.hook) given.hook = *arguments.hook;
  const Config config = host::lifecycle::Merged(KeptSettings(run.session(), type), given);
  const host::Status kept =
      host::lifecycle::KeepRenewalSettings(run.store(), run.manager(), type, config, host::ProcessUser());
  ThrowIfStoreFailed(kept);
  if (kept.code() == ozo::results::InvalidState) throw NoAnchorsRefusal(kept.words());
  if (!kept.ok()) throw Failure(kExitUsage, "the " + keyword + " renewal settings are not kept: " + kept.words());
  Json facts = ConfigJson(type, config);
  facts["configured"] = true;
  Announce(global, "renewal settings of " + keyword + " kept", facts);
  return kExitOk;
}

struct StatusArguments {};

std::string Moment(const std::optional<std::int64_t>& seconds) { return seconds ? IsoFromSeconds(*seconds) : "-"; }

int ShowStatus(const GlobalOptions& global, const StatusArguments&) {
  Session session(global, Access::Read);
  const ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  host::lifecycle::SqliteLifecycleStore store(session.store());
  std::vector<host::lifecycle::SlotRenewals> slots;
  ThrowIfStoreFailed(host::lifecycle::ReadSlotRenewals(store, *manager, slots));
  Json json = Json::array();
  std::vector<std::vector<std::string>> rows = {
      {"TYPE", "CA", "DUE", "LAST ATTEMPT", "LAST SUCCESS", "FAILURES", "NEXT ATTEMPT", "LAST ERROR"}};
  for (const host::lifecycle::SlotRenewals& slot : slots) {
    const State& state = slot.state;
    Json entry = {
        {"type", slot.type.keyword()}, {"configured", slot.settings.has_value()}, {"failures", state.failures}};
    if (slot.settings) entry["server"] = slot.settings->server;
    const std::pair<const char*, std::optional<std::int64_t>> moments[] = {{"notAfter", slot.notAfter},
                                                                           {"due", slot.due},
                                                                           {"lastAttempt", state.lastAttempt},
                                                                           {"lastSuccess", state.lastSuccess},
                                                                           {"nextAttempt", slot.nextAttempt}};
    for (const auto& [name, moment] : moments)
      if (moment) entry[name] = IsoFromSeconds(*moment);
    if (!state.lastError.empty()) entry["lastError"] = state.lastError;
    if (!state.hookError.empty()) entry["hookError"] = state.hookError;
    json.push_back(std::move(entry));
    std::string error = state.lastError.empty() ? "-" : state.lastError;
    if (!state.hookError.empty()) error += " (" + state.hookError + ")";
    rows.push_back({slot.type.keyword(), slot.settings ? slot.settings->server : "- (nothing renews it)",
                    Moment(slot.due), Moment(state.lastAttempt), Moment(state.lastSuccess),
                    std::to_string(state.failures), Moment(slot.nextAttempt), error});
  }
  if (global.json)
    PrintJson(json);
  else if (rows.size() == 1)
    std::cout << "no client certificates, renewal settings or attempts\n";
  else
    PrintTable(rows);
  return kExitOk;
}

}  // namespace

Command RenewConfig() {
  return Define<ConfigArguments>(
      "renew-config", "how the client certificate is renewed on its own", {Operand(&ConfigArguments::type, "TYPE")},
      {Option(&ConfigArguments::server, "--server", "URL", "the CA's CMP address"),
       Option(&ConfigArguments::trusted, "--trusted", "FILE",
              "the CA's answers and new certificates must chain to these (kept in the store)"),
       Option(&ConfigArguments::sender, "--sender", "DN",
              "the subject that signs the CA's answers (default: the CA or an RA)"),
       Option(&ConfigArguments::command, "--cmd", "kur|cr",
              "a key update request (the first settings' default) or a certification request"),
       Option(&ConfigArguments::probe, "--probe", "HOST[:PORT]", "try each new pair against the peer first"),
       Option(&ConfigArguments::servername, "--servername", "NAME", "the name sent to the peer and checked"),
       Option(&ConfigArguments::before, "--before", "DAYS",
              "renew DAYS before the end when that comes before 2/3 of the lifetime"),
       Option(&ConfigArguments::hook, "--exec", "CMD", "run CMD after each renewal (no secret in its environment)"),
       Mode(&ConfigArguments::show, "--show", "print the settings instead"),
       Mode(&ConfigArguments::remove, "--remove", "drop the settings instead")},
      Configure);
}

Command RenewStatus() {
  return Define<StatusArguments>("renew-status", "what each slot's renewals have come to", {}, {}, ShowStatus);
}

}  // namespace certctl::commands
