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
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/renewal_facts.h"
#include "tools/certctl/lib/terminal_text.h"
#include "tools/certctl/probe/stored_revocation.h"

namespace certctl::commands {
namespace {

constexpr const char* kStoreVerdict = "store";

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

struct CheckOptions {
  Thresholds thresholds;
  std::optional<ivo::PeerType> type;  // none: every type
  std::string kind;                   // empty: both kinds
  std::vector<SlotRef> required;
  std::int64_t graceSeconds = host::lifecycle::kRenewalGraceSeconds;
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

// Whether `fact`'s slot renews on its own with nothing amiss at `now`: it
// has settings, and its renewal is neither late nor failing, nor did its
// hook fail. Its approaching end is then the renewal's business, not a
// person's, as cert-manager judges a certificate it is about to renew.
bool RenewsOnItsOwn(const host::lifecycle::SlotRenewals& fact, const CheckOptions& options, std::int64_t now) {
  return fact.settings && fact.due && !host::lifecycle::RenewalLate(now, *fact.due, options.graceSeconds) &&
         fact.state.failures == 0 && fact.state.hookError.empty();
}

struct Verdict {
  std::string slot;  // "edr server"; "store" for a verdict on the store itself
  State state = State::Ok;
  std::string message;
  const StoredCertificate* certificate = nullptr;  // null for a missing one
  std::optional<std::int64_t> daysLeft;            // whole days to its end, when it has dates
  bool measured = true;                            // has performance data (a verdict on a date has none)
};

// The verdict on one stored certificate at `now`; `renewal` the facts of
// its slot's renewals, for a client certificate that has some.
Verdict VerdictOn(const StoredCertificate& stored, const CheckOptions& options, std::int64_t now,
                  const host::lifecycle::SlotRenewals* renewal) {
  Verdict verdict{std::string(stored.type.keyword()) + " " + stored.kind(), State::Ok, "", &stored, {}};
  if (!stored.problem.empty()) {
    verdict.state = State::Unknown;
    verdict.message = verdict.slot + " " + stored.problem;
    return verdict;
  }
  const std::int64_t days = DaysUntil(stored.notAfterSeconds, now);
  verdict.daysLeft = days;
  if (now < stored.notBeforeSeconds) {
    verdict.state = State::Critical;
    verdict.message = verdict.slot + " is not valid before " + stored.notBefore;
  } else if (now >= stored.notAfterSeconds) {
    verdict.state = State::Critical;
    verdict.message =
        verdict.slot + " expired " + SpanText(now - stored.notAfterSeconds) + " ago (" + stored.notAfter + ")";
  } else {
    verdict.state = StateOfEnd(stored.notAfterSeconds - now, options.thresholds);
    verdict.message =
        verdict.slot + " expires in " + SpanText(stored.notAfterSeconds - now) + " (" + stored.notAfter + ")";
    if (verdict.state == State::Warning && renewal && !options.ignoreRenewal &&
        RenewsOnItsOwn(*renewal, options, now)) {
      verdict.state = State::Ok;
      verdict.message += "; it renews on its own, due " + IsoFromSeconds(*renewal->due);
    }
  }
  return verdict;
}

bool Selected(const CheckOptions& options, ivo::PeerType type, const std::string& kind) {
  return (!options.type || options.type == type) && (options.kind.empty() || options.kind == kind);
}

std::vector<Verdict> JudgeAll(const std::vector<StoredCertificate>& inventory,
                              const std::vector<host::lifecycle::SlotRenewals>& renewals, const CheckOptions& options,
                              std::int64_t now) {
  std::vector<Verdict> verdicts;
  for (const StoredCertificate& stored : inventory) {
    const auto renewal = std::find_if(renewals.begin(), renewals.end(), [&](const host::lifecycle::SlotRenewals& fact) {
      return stored.client && fact.type == stored.type;
    });
    if (Selected(options, stored.type, stored.kind()))
      verdicts.push_back(VerdictOn(stored, options, now, renewal == renewals.end() ? nullptr : &*renewal));
  }
  for (const SlotRef& required : options.required) {
    const bool held = std::any_of(inventory.begin(), inventory.end(), [&](const StoredCertificate& stored) {
      return stored.type == required.type && stored.client == required.client;
    });
    const std::string slot = std::string(required.type.keyword()) + (required.client ? " client" : " server");
    if (!held) verdicts.push_back({slot, State::Critical, slot + " is required but not stored", nullptr, {}});
  }
  return verdicts;
}

State Worst(const std::vector<Verdict>& verdicts) {
  State worst = State::Ok;
  for (const Verdict& verdict : verdicts) worst = Worse(worst, verdict.state);
  return worst;
}

std::string Summary(const std::vector<Verdict>& verdicts, State worst, const CheckOptions& options) {
  if (verdicts.empty())
    return options.type || !options.kind.empty() ? "no certificate of that type and kind is stored"
                                                 : "no certificates stored";
  if (worst == State::Ok) {
    // Verdicts without a certificate (a CRL's) say nothing of an end.
    const Verdict* first = nullptr;
    std::size_t count = 0;
    for (const Verdict& verdict : verdicts)
      if (verdict.certificate && ++count &&
          (!first || verdict.certificate->notAfterSeconds < first->certificate->notAfterSeconds))
        first = &verdict;
    if (!first) return verdicts.front().message;
    return std::to_string(count) + (count == 1 ? " certificate" : " certificates") +
           " valid; the first to end: " + first->message;
  }
  std::vector<const Verdict*> problems;
  for (const Verdict& verdict : verdicts)
    if (verdict.state != State::Ok) problems.push_back(&verdict);
  std::stable_sort(problems.begin(), problems.end(), [](const Verdict* a, const Verdict* b) {
    return Worse(b->state, a->state) == a->state && a->state != b->state;
  });
  std::string summary;
  for (const Verdict* problem : problems) summary += (summary.empty() ? "" : "; ") + problem->message;
  return summary;
}

// 'edr_server_days_left'=12;30;7 for each certificate; U when it has no date.
std::string PerformanceData(const std::vector<Verdict>& verdicts, const CheckOptions& options) {
  std::string data;
  for (const Verdict& verdict : verdicts) {
    if (verdict.slot == kStoreVerdict || !verdict.measured) continue;
    std::string label = verdict.slot + "_days_left";
    std::replace(label.begin(), label.end(), ' ', '_');
    data += (data.empty() ? "" : " ") +
            DaysPerformance(label, verdict.daysLeft ? &*verdict.daysLeft : nullptr, options.thresholds);
  }
  return data;
}

// A stored certificate a CRL covers: revoked is CRITICAL, a CRL that cannot
// judge it WARNING.
Verdict RevocationVerdict(const SlotRevocation& slot) {
  const std::string name = std::string(slot.type.keyword()) + (slot.client ? " client" : " server");
  const CertificateRevocation& found = slot.verdict;
  if (found.status == RevocationStatus::Revoked)
    return {name,
            State::Critical,
            name + " certificate " + found.subject + " is revoked" +
                (found.revokedAt ? " since " + IsoFromSeconds(*found.revokedAt) : "") +
                (found.reason.empty() ? "" : " (" + found.reason + ")") + " by " + found.source +
                (found.problem.empty() ? "" : "; " + found.problem),
            nullptr,
            {},
            false};
  if (found.status == RevocationStatus::Good)
    return {name, State::Ok, name + " certificate is not revoked by " + found.source, nullptr, {}, false};
  return {
      name, State::Warning, name + " certificate cannot be judged by " + found.source + ": " + found.problem, nullptr,
      {},   false};
}

// What needs a person in a slot's renewals at `now`, each WARNING: a
// configured renewal past its due time (the timer has not renewed it), one
// that is failing (the state says why), a hook that failed after a renewal.
std::vector<Verdict> RenewalVerdicts(const host::lifecycle::SlotRenewals& fact, const CheckOptions& options,
                                     std::int64_t now) {
  const std::string slot = std::string(fact.type.keyword()) + " client";
  const std::string failures = std::to_string(fact.state.failures) +
                               (fact.state.failures == 1 ? " failure: " : " failures in a row, the last: ") +
                               fact.state.lastError;
  std::vector<Verdict> verdicts;
  if (fact.settings && fact.due && host::lifecycle::RenewalLate(now, *fact.due, options.graceSeconds))
    verdicts.push_back({slot,
                        State::Warning,
                        slot + " renewal is late: due since " + IsoFromSeconds(*fact.due) +
                            (fact.state.failures > 0 ? ", " + failures : ""),
                        nullptr,
                        {},
                        false});
  else if (fact.settings && fact.state.failures > 0)
    verdicts.push_back({slot,
                        State::Warning,
                        slot + " renewal is failing: " + failures +
                            (fact.nextAttempt ? "; next attempt " + IsoFromSeconds(*fact.nextAttempt) : ""),
                        nullptr,
                        {},
                        false});
  if (!fact.state.hookError.empty())
    verdicts.push_back({slot, State::Warning, slot + " was renewed, but " + fact.state.hookError, nullptr, {}, false});
  return verdicts;
}

// A key waiting for its certificate is no problem of its own: it is told,
// as OK, so that the one who asked for it does not forget it.
std::string PendingText(ivo::PeerType type, const PendingKeyFacts& facts) {
  return std::string(type.keyword()) + " client has a key pending since " + IsoFromSeconds(facts.created) + " (" +
         PendingKeyHint(type, facts) + ")";
}

int Print(const GlobalOptions& global, State state, const std::string& summary, const std::vector<Verdict>& verdicts,
          const std::string& performance, const PendingKeys& pending = {}) {
  if (global.json) {
    Json json = {{"state", NameOf(state)}, {"summary", summary}, {"certificates", Json::array()}};
    json["pendingKeys"] = Json::array();
    for (const auto& [type, facts] : pending)
      json["pendingKeys"].push_back({{"type", type.keyword()}, {"created", IsoFromSeconds(facts.created)}});
    for (const Verdict& verdict : verdicts) {
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
    for (const Verdict& verdict : verdicts)
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
    std::vector<Verdict> verdicts = JudgeAll(inventory, renewals, options, now);  // they point into the inventory
    // Client certificates with their keys are readable by whoever can read
    // the store: as urgent as an expiry a few weeks away.
    if (!session.exposure().empty())
      verdicts.insert(verdicts.begin(), {kStoreVerdict, State::Warning, session.exposure(), nullptr, {}});
    PendingKeys pending;
    for (const auto& [type, facts] : ReadPendingKeys(session))
      if (Selected(options, type, "client")) pending.emplace(type, facts);
    if (!arguments.crl.empty()) {
      bool covered = false;
      for (const SlotRevocation& slot : CheckStoredRevocation(session, arguments.crl, deadline))
        if (Selected(options, slot.type, slot.client ? "client" : "server")) {
          verdicts.push_back(RevocationVerdict(slot));
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
        for (Verdict& verdict : RenewalVerdicts(fact, options, now)) verdicts.push_back(std::move(verdict));
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
