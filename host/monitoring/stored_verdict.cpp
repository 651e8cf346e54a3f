#include "host/monitoring/stored_verdict.h"

#include <algorithm>

#include "ossl/text.h"

namespace host::monitoring {
namespace {

using ossl::IsoFromSeconds;
using revocation::RevocationStatus;

// Whether `fact`'s slot renews on its own with nothing amiss at `now`: it
// has settings, and its renewal is neither late nor failing, nor did its
// hook fail. Its approaching end is then the renewal's business, not a
// person's, as cert-manager judges a certificate it is about to renew.
bool RenewsOnItsOwn(const lifecycle::SlotRenewals& fact, const CheckOptions& options, std::int64_t now) {
  return fact.settings && fact.due && !lifecycle::RenewalLate(now, *fact.due, options.graceSeconds) &&
         fact.state.failures == 0 && fact.state.hookError.empty();
}

// The verdict on one stored certificate at `now`; `renewal` the facts of
// its slot's renewals, for a client certificate that has some.
StoredVerdict VerdictOn(const StoredCertificate& stored, const CheckOptions& options, std::int64_t now,
                        const lifecycle::SlotRenewals* renewal) {
  StoredVerdict verdict{std::string(stored.type.keyword()) + " " + stored.kind(), State::Ok, "", &stored, {}};
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

}  // namespace

std::string StatusOf(const StoredCertificate& stored, std::int64_t now) {
  if (!stored.problem.empty()) return stored.loadable ? "undecodable" : "cannot be loaded";
  if (now < stored.notBeforeSeconds) return "not yet valid";
  return now < stored.notAfterSeconds ? "valid" : "expired";
}

std::string StoredCertificate::slot() const { return std::string(type.keyword()) + " " + kind(); }

bool Selected(const CheckOptions& options, ivo::PeerType type, const std::string& kind) {
  return (!options.type || options.type == type) && (options.kind.empty() || options.kind == kind);
}

std::vector<StoredVerdict> JudgeStored(const std::vector<StoredCertificate>& inventory,
                                       const std::vector<lifecycle::SlotRenewals>& renewals,
                                       const CheckOptions& options, std::int64_t now) {
  std::vector<StoredVerdict> verdicts;
  for (const StoredCertificate& stored : inventory) {
    const auto renewal = std::find_if(renewals.begin(), renewals.end(), [&](const lifecycle::SlotRenewals& fact) {
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

State Worst(const std::vector<StoredVerdict>& verdicts) {
  State worst = State::Ok;
  for (const StoredVerdict& verdict : verdicts) worst = Worse(worst, verdict.state);
  return worst;
}

std::string Summary(const std::vector<StoredVerdict>& verdicts, State worst, const CheckOptions& options) {
  if (verdicts.empty())
    return options.type || !options.kind.empty() ? "no certificate of that type and kind is stored"
                                                 : "no certificates stored";
  if (worst == State::Ok) {
    // Verdicts without a certificate (a CRL's) say nothing of an end.
    const StoredVerdict* first = nullptr;
    std::size_t count = 0;
    for (const StoredVerdict& verdict : verdicts)
      if (verdict.certificate && ++count &&
          (!first || verdict.certificate->notAfterSeconds < first->certificate->notAfterSeconds))
        first = &verdict;
    if (!first) return verdicts.front().message;
    return std::to_string(count) + (count == 1 ? " certificate" : " certificates") +
           " valid; the first to end: " + first->message;
  }
  std::vector<const StoredVerdict*> problems;
  for (const StoredVerdict& verdict : verdicts)
    if (verdict.state != State::Ok) problems.push_back(&verdict);
  std::stable_sort(problems.begin(), problems.end(), [](const StoredVerdict* a, const StoredVerdict* b) {
    return Worse(b->state, a->state) == a->state && a->state != b->state;
  });
  std::string summary;
  for (const StoredVerdict* problem : problems) summary += (summary.empty() ? "" : "; ") + problem->message;
  return summary;
}

// A stored certificate a CRL covers: revoked is CRITICAL, a CRL that cannot
// judge it WARNING.
StoredVerdict RevocationVerdict(ivo::PeerType type, bool client, const revocation::CertificateRevocation& found) {
  const std::string name = std::string(type.keyword()) + (client ? " client" : " server");
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
std::vector<StoredVerdict> RenewalVerdicts(const lifecycle::SlotRenewals& fact, const CheckOptions& options,
                                           std::int64_t now) {
  const std::string slot = std::string(fact.type.keyword()) + " client";
  const std::string failures = std::to_string(fact.state.failures) +
                               (fact.state.failures == 1 ? " failure: " : " failures in a row, the last: ") +
                               fact.state.lastError;
  std::vector<StoredVerdict> verdicts;
  if (fact.settings && fact.due && lifecycle::RenewalLate(now, *fact.due, options.graceSeconds))
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

}  // namespace host::monitoring
