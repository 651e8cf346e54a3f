// renew-config: how a slot's client certificate is renewed on its own;
// renew-status: what its renewals have come to.
#include <cstdio>
#include <ctime>
#include <iostream>

#include "host/lifecycle/schedule.h"
#include "host/lifecycle/trust.h"
#include "host/storage/journal_records.h"
#include "ossl/text.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/renewal_facts.h"
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
  if (!config.probe.empty()) json["probe"] = config.probe;
  if (!config.servername.empty()) json["servername"] = config.servername;
  if (config.beforeDays) json["beforeDays"] = *config.beforeDays;
  if (!config.hook.empty()) json["exec"] = config.hook;
  if (!config.sender.empty()) json["sender"] = SenderText(config);
  return json;
}

// The anchors a renewal with `config` takes for the CA's answers and its
// new certificates (host::lifecycle::SlotAnchors).
host::lifecycle::TrustAnchors AnchorsOf(Session& session, ivo::PeerType type, const Config& config) {
  const ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  return host::lifecycle::SlotAnchors(*manager, type, config.trusted, "the certificates kept with the settings");
}

void PrintConfig(const GlobalOptions& global, Session& session, ivo::PeerType type, const Config& config) {
  if (global.json) return PrintJson(ConfigJson(type, config));
  const host::lifecycle::TrustAnchors anchors = AnchorsOf(session, type, config);
  const std::string problem = host::lifecycle::AnchorsProblem(anchors);
  const std::string trusted = problem.empty() ? anchors.origin
                              : anchors.certificates.empty()
                                  ? "nothing: each renewal is refused until --trusted CA-FILE is given"
                                  : problem + ": each renewal is refused until --trusted CA-FILE is given";
  std::printf("server   %s\ncmd      %s\ntrusted  %s\n", Printable(config.server).c_str(), config.command.c_str(),
              Printable(trusted).c_str());
  if (!config.probe.empty()) std::printf("probe    %s\n", Printable(config.probe).c_str());
  if (!config.servername.empty()) std::printf("name     %s\n", Printable(config.servername).c_str());
  if (config.beforeDays) std::printf("before   %lld days\n", static_cast<long long>(*config.beforeDays));
  if (!config.hook.empty()) std::printf("exec     %s\n", Printable(config.hook).c_str());
  if (!config.sender.empty()) std::printf("sender   %s\n", Printable(SenderText(config)).c_str());
}

// A --before that the stored certificate's lifetime cannot hold would make
// it due before it was issued: a local mistake, refused now (kExitUsage).
void RefuseBeforeBeyondLifetime(Session& session, ivo::PeerType type, std::optional<std::int64_t> beforeDays) {
  for (const StoredCertificate& stored : ReadInventory(session))
    if (stored.type == type && stored.client && stored.notAfterSeconds > stored.notBeforeSeconds &&
        !host::lifecycle::BeforeFits(stored.notBeforeSeconds, stored.notAfterSeconds, beforeDays))
      throw Failure(kExitUsage,
                    "--before " + std::to_string(*beforeDays) + " is not shorter than the " + type.keyword() +
                        " client certificate's lifetime of " +
                        std::to_string((stored.notAfterSeconds - stored.notBeforeSeconds) / host::lifecycle::kDay) +
                        " days: it would be due before it was issued");
}

int Configure(const GlobalOptions& global, const ConfigArguments& arguments) {
  const ivo::PeerType type = arguments.type.value;
  const std::string keyword = type.keyword();
  const bool changes = arguments.server || arguments.trusted || arguments.command || arguments.probe ||
                       arguments.servername || arguments.before || arguments.hook || arguments.sender;
  if (!arguments.show && !arguments.remove && !changes)
    throw Failure(kExitUsage, "renew-config takes --show, --remove, or the settings to keep");
  Config config;
  Session session(global, arguments.show ? Access::Read : Access::WriteSecrets);
  const ozo::result_t read = session.store().renewalConfigs().Get(type, config);
  session.ThrowIfStoreFailed(read);
  const bool stored = ozo::Succeeded(read);
  if ((arguments.show || arguments.remove) && !stored) {
    Announce(global, keyword + " has no renewal settings", {{"type", keyword}, {"configured", false}});
    return kExitFalse;
  }
  if (arguments.show) {
    PrintConfig(global, session, type, config);
    return kExitOk;
  }
  std::string detail;
  if (arguments.remove) {
    session.ThrowIfStoreFailed(session.store().renewalConfigs().Remove(type));
    detail = "settings removed";
  } else {
    if (arguments.server) config.server = arguments.server->url;
    if (config.server.empty())
      throw Failure(kExitUsage, "the first settings of " + keyword + " name the CA: --server URL");
    if (arguments.command) config.command = arguments.command->name;
    if (arguments.trusted) config.trusted = arguments.trusted->certificates;
    if (arguments.sender) config.sender = arguments.sender->der;
    if (arguments.probe) config.probe = arguments.probe->text();
    if (arguments.servername) config.servername = *arguments.servername;
    if (arguments.before) config.beforeDays = arguments.before->value;
    if (arguments.hook) config.hook = *arguments.hook;
    if (const host::lifecycle::TrustAnchors anchors = AnchorsOf(session, type, config);
        !host::lifecycle::AnchorsProblem(anchors).empty())
      throw NoAnchorsRefusal(host::lifecycle::AnchorsProblem(anchors));
    RefuseBeforeBeyondLifetime(session, type, config.beforeDays);
    session.ThrowIfStoreFailed(session.store().renewalConfigs().Put(type, config));
    detail = "settings kept: " + config.server;
  }
  session.ThrowIfStoreFailed(session.store().journal().Append(
      host::OperationRecord("renew-config", keyword + " client", detail, UserInitiator())));
  session.Commit();
  Json facts = arguments.remove ? Json{{"type", keyword}, {"configured", false}} : ConfigJson(type, config);
  if (!arguments.remove) facts["configured"] = true;
  Announce(global, "renewal settings of " + keyword + (arguments.remove ? " removed" : " kept"), facts);
  return kExitOk;
}

struct StatusArguments {};

std::string Moment(const std::optional<std::int64_t>& seconds) { return seconds ? IsoFromSeconds(*seconds) : "-"; }

int ShowStatus(const GlobalOptions& global, const StatusArguments&) {
  Session session(global, Access::Read);
  Json json = Json::array();
  std::vector<std::vector<std::string>> rows = {
      {"TYPE", "CA", "DUE", "LAST ATTEMPT", "LAST SUCCESS", "FAILURES", "NEXT ATTEMPT", "LAST ERROR"}};
  for (const RenewalFacts& fact : ReadRenewalFacts(session, ReadInventory(session))) {
    const State& state = fact.state;
    Json entry = {{"type", fact.type.keyword()}, {"configured", fact.config.has_value()}, {"failures", state.failures}};
    if (fact.config) entry["server"] = fact.config->server;
    const std::pair<const char*, std::optional<std::int64_t>> moments[] = {{"notAfter", fact.notAfter},
                                                                           {"due", fact.due},
                                                                           {"lastAttempt", state.lastAttempt},
                                                                           {"lastSuccess", state.lastSuccess},
                                                                           {"nextAttempt", fact.nextAttempt}};
    for (const auto& [name, moment] : moments)
      if (moment) entry[name] = IsoFromSeconds(*moment);
    if (!state.lastError.empty()) entry["lastError"] = state.lastError;
    if (!state.hookError.empty()) entry["hookError"] = state.hookError;
    json.push_back(std::move(entry));
    std::string error = state.lastError.empty() ? "-" : state.lastError;
    if (!state.hookError.empty()) error += " (" + state.hookError + ")";
    rows.push_back({fact.type.keyword(), fact.config ? fact.config->server : "-", Moment(fact.due),
                    Moment(state.lastAttempt), Moment(state.lastSuccess), std::to_string(state.failures),
                    Moment(fact.nextAttempt), error});
  }
  if (global.json)
    PrintJson(json);
  else if (rows.size() == 1)
    std::cout << "no renewal settings or attempts\n";
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
