// check: the stored certificates' expiry as a monitoring plugin reports it.
// Its exit status is the plugin state (0 OK, 1 WARNING, 2 CRITICAL, 3
// UNKNOWN), not certctl's usual status; the first line of its output is the
// status line, with performance data after "|".
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>

#include "host/lifecycle/schedule.h"
#include "host/monitoring/stored_verdict.h"
#include "host/revocation/stored.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/renewal_facts.h"
#include "tools/certctl/lib/terminal_text.h"

namespace certctl::commands {
namespace {

using host::monitoring::CheckOptions;
using host::monitoring::JudgeStored;
using host::monitoring::kStoreVerdict;
using host::monitoring::RenewalVerdicts;
using host::monitoring::RevocationVerdict;
using host::monitoring::Selected;
using host::monitoring::StoredVerdict;
using host::monitoring::Summary;
using host::monitoring::Worst;

struct Arguments {
  Days warning{30};
  Days critical{7};
  std::optional<PeerType> type;
  std::optional<CertKind> kind;
  std::vector<SlotRef> required;
  std::string crl;
  Timeout timeout;
  Hours renewalGrace{host::lifecycle::kRenewalGraceSeconds / 3600.0};
  bool ignoreRenewal = false;
};

CheckOptions OptionsOf(const Arguments& arguments) {
  return {ThresholdsOf(arguments.warning.value, arguments.critical.value),
          arguments.type ? std::optional(arguments.type->value) : std::nullopt,
          !arguments.kind          ? ""
          : arguments.kind->client ? "client"
                                   : "server",
          arguments.required,
          static_cast<std::int64_t>(arguments.renewalGrace.value * 3600),
          arguments.ignoreRenewal};
}

// 'edr_server_days_left'=12;30;7 for each certificate; U when it has no date.
std::string PerformanceData(const std::vector<StoredVerdict>& verdicts, const CheckOptions& options) {
  std::string data;
  for (const StoredVerdict& verdict : verdicts) {
    if (verdict.slot == kStoreVerdict || !verdict.measured) continue;
    std::string label = verdict.slot + "_days_left";
    std::replace(label.begin(), label.end(), ' ', '_');
    data += (data.empty() ? "" : " ") +
            DaysPerformance(label, verdict.daysLeft ? &*verdict.daysLeft : nullptr, options.thresholds);
  }
  return data;
}

// A key waiting for its certificate is no problem of its own: it is told,
// as OK, so that the one who asked for it does not forget it.
std::string PendingText(ivo::PeerType type, const PendingKeyFacts& facts) {
  return std::string(type.keyword()) + " client has a key pending since " + IsoFromSeconds(facts.created) + " (" +
         PendingKeyHint(type, facts) + ")";
}

int Print(const GlobalOptions& global, State state, const std::string& summary,
          const std::vector<StoredVerdict>& verdicts, const std::string& performance, const PendingKeys& pending = {}) {
  if (global.json) {
    Json json = {{"state", NameOf(state)}, {"summary", summary}, {"certificates", Json::array()}};
    json["pendingKeys"] = Json::array();
    for (const auto& [type, facts] : pending)
      json["pendingKeys"].push_back({{"type", type.keyword()}, {"created", IsoFromSeconds(facts.created)}});
    for (const StoredVerdict& verdict : verdicts) {
      Json entry = {{"slot", verdict.slot}, {"state", NameOf(verdict.state)}, {"message", verdict.message}};
      if (verdict.daysLeft)
        entry.update({{"subject", verdict.certificate->subject},
                      {"notBefore", verdict.certificate->notBefore},
                      {"notAfter", verdict.certificate->notAfter},
                      {"daysLeft", *verdict.daysLeft}});
      json["certificates"].push_back(std::move(entry));
    }
    PrintJson(json);
  } else {
    std::cout << "CERTIFICATES " << NameOf(state) << " - " << Printable(summary) << (performance.empty() ? "" : " | ")
              << performance << "\n";
    for (const StoredVerdict& verdict : verdicts)
      std::cout << NameOf(verdict.state) << ": " << Printable(verdict.message) << "\n";
    for (const auto& [type, facts] : pending)
      std::cout << NameOf(State::Ok) << ": " << PendingText(type, facts) << "\n";
  }
  return static_cast<int>(state);
}

int Check(const GlobalOptions& global, const Arguments& arguments) {
  const host::Deadline deadline(arguments.timeout.seconds);
  try {
    const CheckOptions options = OptionsOf(arguments);
    const std::int64_t now = std::time(nullptr);
    Session session(global, Access::Read, true);
    const std::vector<StoredCertificate> inventory = ReadInventory(session);
    const std::vector<host::lifecycle::SlotRenewals> renewals = ReadRenewalFacts(session, inventory);
    std::vector<StoredVerdict> verdicts =
        JudgeStored(inventory, renewals, options, now);  // they point into the inventory
    // Client certificates with their keys are readable by whoever can read
    // the store: as urgent as an expiry a few weeks away.
    if (!session.exposure().empty())
      verdicts.insert(verdicts.begin(), {kStoreVerdict, State::Warning, session.exposure(), nullptr, {}});
    PendingKeys pending;
    for (const auto& [type, facts] : ReadPendingKeys(session))
      if (Selected(options, type, "client")) pending.emplace(type, facts);
    if (!arguments.crl.empty()) {
      bool covered = false;
      std::vector<host::revocation::SlotRevocation> covering;
      const host::Status checked =
          host::revocation::CheckStoredByCrl(session.host(), session.store(), arguments.crl, deadline, covering);
      if (!checked.ok())
        throw Failure(checked.storeFailed() ? kExitStore : kExitUsage,
                      (checked.storeFailed() ? "" : "--crl ") + checked.words(), checked.code());
      for (const host::revocation::SlotRevocation& slot : covering)
        if (Selected(options, slot.type, slot.client ? "client" : "server")) {
          verdicts.push_back(RevocationVerdict(slot.type, slot.client, slot.verdict));
          covered = true;
        }
      if (!covered)
        verdicts.push_back(
            {"crl",
             State::Ok,
             "the CRL " + arguments.crl + " covers no stored certificate: nothing was checked against it",
             nullptr,
             {},
             false});
    }
    for (const host::lifecycle::SlotRenewals& fact : renewals)
      if (Selected(options, fact.type, "client"))
        for (StoredVerdict& verdict : RenewalVerdicts(fact, options, now)) verdicts.push_back(std::move(verdict));
    const State worst = Worst(verdicts);
    return Print(global, worst, Summary(verdicts, worst, options), verdicts, PerformanceData(verdicts, options),
                 pending);
  } catch (const Failure& failure) {
    // Whatever keeps the check from judging (a store or library that cannot
    // be used) is UNKNOWN, as monitoring expects.
    return Print(global, State::Unknown, failure.what(), {}, "");
  } catch (const std::exception& failure) {
    // A fault of certctl's own still gives monitoring a status line.
    return Print(global, State::Unknown, std::string("certctl failed: ") + failure.what(), {}, "");
  }
}

}  // namespace

Command Check() {
  Command check = Define<Arguments>(
      "check", "expiry, as a monitoring plugin reports it", {},
      {Option(&Arguments::warning, "-w,--warning", "DAYS", "WARNING when a certificate ends within DAYS"),
       Option(&Arguments::critical, "-c,--critical", "DAYS", "CRITICAL when it ends within DAYS"),
       Option(&Arguments::type, "-t,--type", "TYPE", "only this type (edr, sandbox, ndr, siem or 1-4)"),
       Option(&Arguments::kind, "--kind", "KIND", "only this kind (server or client)"),
       Option(&Arguments::required, "--require", "TYPE/KIND",
              "CRITICAL when this slot is empty (repeatable; or TYPE/KIND,TYPE/KIND)"),
       Option(&Arguments::crl, "--crl", "FILE|URL", "CRITICAL when a CRL revokes a stored certificate"),
       Option(&Arguments::timeout, "--timeout", "SECONDS", "give up fetching the CRL after SECONDS"),
       Option(&Arguments::renewalGrace, "--renewal-grace", "HOURS",
              "WARNING when a configured renewal is more than HOURS past due"),
       Switch(&Arguments::ignoreRenewal, "--ignore-renewal",
              "judge client certificates by their end alone, as if nothing renewed them")},
      Check);
  check.exitStatus = kPluginExitStatus;
  check.unknown = [](const GlobalOptions& global, const std::string& why) {
    return Print(global, State::Unknown, why, {}, "");
  };
  return check;
}

}  // namespace certctl::commands
