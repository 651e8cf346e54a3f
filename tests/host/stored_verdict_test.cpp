// A stored client certificate's verdict with its slot's renewals, rule by
// rule: its end pages no one while the slot renews on its own and is on
// course, and does once the renewal is late, failing or its hook failed;
// the critical threshold stays absolute. Each row is one rule.
#include "host/monitoring/stored_verdict.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using host::monitoring::State;
namespace lifecycle = host::lifecycle;

constexpr std::int64_t kNow = 1'800'000'000;

TEST(StoredVerdict, AClientCertificateThatRenewsOnItsOwnPagesOnlyWhenItsRenewalNeedsAPerson) {
  struct Row {
    const char* name;
    std::function<void(lifecycle::SlotRenewals&, host::monitoring::CheckOptions&)> change;
    int daysLeft;
    State end;    // the verdict on the certificate's end
    State worst;  // with the verdicts on the slot's renewals
  };
  const Row rows[] = {
      {"on course", [](auto&, auto&) {}, 20, State::Ok, State::Ok},
      {"no settings", [](auto& fact, auto&) { fact.settings.reset(); }, 20, State::Warning, State::Warning},
      {"judged by its end alone", [](auto&, auto& options) { options.ignoreRenewal = true; }, 20, State::Warning,
       State::Warning},
      {"failing, not yet late", [](auto& fact, auto&) { fact.state.failures = 1; }, 20, State::Warning, State::Warning},
      {"its hook failed", [](auto& fact, auto&) { fact.state.hookError = "the hook exited 3"; }, 20, State::Warning,
       State::Warning},
      {"late", [](auto& fact, auto&) { fact.due = kNow - lifecycle::kRenewalGraceSeconds - 1; }, 20, State::Warning,
       State::Warning},
      {"within the grace", [](auto& fact, auto&) { fact.due = kNow - lifecycle::kRenewalGraceSeconds + 60; }, 20,
       State::Ok, State::Ok},
      {"within the critical days", [](auto&, auto&) {}, 3, State::Critical, State::Critical},
  };
  for (const Row& row : rows) {
    host::monitoring::StoredCertificate stored(*ivo::PeerType::From(1));
    stored.client = true;
    stored.notBeforeSeconds = kNow - 10 * lifecycle::kDay;
    stored.notAfterSeconds = kNow + row.daysLeft * lifecycle::kDay + 60;
    lifecycle::SlotRenewals fact(stored.type);
    fact.settings.emplace();
    fact.due = kNow + lifecycle::kDay;
    host::monitoring::CheckOptions options;
    row.change(fact, options);
    const std::vector<host::monitoring::StoredCertificate> inventory = {stored};
    std::vector<host::monitoring::StoredVerdict> verdicts = JudgeStored(inventory, {fact}, options, kNow);
    ASSERT_EQ(verdicts.size(), 1u) << row.name;
    EXPECT_EQ(verdicts[0].state, row.end) << row.name << ": " << verdicts[0].message;
    for (auto& renewal : RenewalVerdicts(fact, options, kNow)) verdicts.push_back(std::move(renewal));
    EXPECT_EQ(Worst(verdicts), row.worst) << row.name << ": " << Summary(verdicts, Worst(verdicts), options);
  }
}

}  // namespace
