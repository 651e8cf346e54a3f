// When renewals are due and when they are tried again, as tables of cases.
#include <gtest/gtest.h>

#include "host/lifecycle/schedule.h"

namespace {

using host::lifecycle::kDay;
using host::lifecycle::kHour;

TEST(RenewalSchedule, DueAtTwoThirdsOrDaysBeforeTheEndWhicheverComesFirst) {
  struct Case {
    std::int64_t notBefore, notAfter;
    std::optional<std::int64_t> beforeDays;
    std::int64_t due;
  };
  const Case cases[] = {
      {0, 90 * kDay, std::nullopt, 60 * kDay},  // two thirds
      {0, 90 * kDay, 10, 60 * kDay},            // 10 days before comes later
      {0, 90 * kDay, 40, 50 * kDay},            // 40 days before comes first
      {1000, 1000 + 3 * kDay, std::nullopt, 1000 + 2 * kDay},
      {0, 30 * kDay, 29, kDay},       // a day after issue
      {0, 30 * kDay, 30, 20 * kDay},  // the whole lifetime: two thirds, not before issue
      {0, 30 * kDay, 60, 20 * kDay},  // more days than the lifetime: the same
  };
  for (const Case& c : cases) EXPECT_EQ(host::lifecycle::DueTime(c.notBefore, c.notAfter, c.beforeDays), c.due);
}

TEST(RenewalSchedule, RetriesBackOffFromAnHourToADayAndNeverPastTheLastDay) {
  const std::int64_t now = 1000 * kDay, farEnd = now + 90 * kDay;
  struct Case {
    std::int64_t failures, notAfter, retry;
  };
  const Case cases[] = {
      {1, farEnd, now + kHour},
      {2, farEnd, now + 2 * kHour},
      {3, farEnd, now + 4 * kHour},
      {5, farEnd, now + 16 * kHour},
      {6, farEnd, now + kDay},
      {40, farEnd, now + kDay},
      {6, now + 30 * kHour, now + 6 * kHour},  // a day before the end comes first
      {1, now + 12 * kHour, now + kHour},      // within the last day: hourly
      {6, now + 2 * kHour, now + kHour},       // and after the end too
  };
  for (const Case& c : cases) EXPECT_EQ(host::lifecycle::RetryTime(now, c.failures, c.notAfter), c.retry) << c.failures;
}

TEST(RenewalSchedule, AFailureCountsAndBacksOffAndASuccessClearsIt) {
  host::lifecycle::RenewalState state;
  const std::int64_t now = 1000 * kDay;
  host::lifecycle::RecordFailure(state, now, "the CA said no", now + 30 * kDay);
  host::lifecycle::RecordFailure(state, now + kHour, "again", now + 30 * kDay);
  EXPECT_EQ(state.failures, 2);
  EXPECT_EQ(state.lastAttempt, now + kHour);
  EXPECT_EQ(state.nextAttempt, now + 3 * kHour);
  EXPECT_EQ(state.lastError, "again");
  EXPECT_FALSE(state.lastSuccess);
  EXPECT_FALSE(host::lifecycle::RenewalDue(now + 2 * kHour, now, state)) << "a backed-off attempt waits";
  EXPECT_TRUE(host::lifecycle::RenewalDue(now + 3 * kHour, now, state));
  EXPECT_FALSE(host::lifecycle::RenewalDue(now + 3 * kHour, now + 4 * kHour, state)) << "not due yet";
  state.failures = host::lifecycle::kMaxFailures;  // a count restored or kept for years stays within its bound
  host::lifecycle::RecordFailure(state, now + 3 * kHour, "still", now + 30 * kDay);
  EXPECT_EQ(state.failures, host::lifecycle::kMaxFailures);
  host::lifecycle::RecordSuccess(state, now + 3 * kHour, now + 60 * kDay);
  EXPECT_EQ(state.failures, 0);
  EXPECT_EQ(state.lastSuccess, now + 3 * kHour);
  EXPECT_EQ(state.nextAttempt, now + 60 * kDay);
  EXPECT_TRUE(state.lastError.empty());
}

// After a success the next attempt says when the renewed certificate was
// due; the certificate's own due time rules, so a slot whose certificate
// was replaced, or whose settings now ask for more days before the end, is
// due at once.
TEST(RenewalSchedule, AfterASuccessTheCertificatesOwnDueTimeRules) {
  const std::int64_t now = 1000 * kDay;
  host::lifecycle::RenewalState renewed;
  host::lifecycle::RecordSuccess(renewed, now - kDay, now + 60 * kDay);
  host::lifecycle::RenewalState failing;
  host::lifecycle::RecordFailure(failing, now, "the CA said no", now + 30 * kDay);
  struct Case {
    const host::lifecycle::RenewalState* state;
    std::int64_t at, due;
    bool expected;
  };
  const Case cases[] = {
      {&renewed, now, now - kHour, true},          // due earlier than the success planned
      {&renewed, now, now + kHour, false},         // not yet due
      {&failing, now, now - kHour, false},         // a failure backs off
      {&failing, now + kHour, now - kHour, true},  // until its next attempt
  };
  for (const Case& c : cases) EXPECT_EQ(host::lifecycle::RenewalDue(c.at, c.due, *c.state), c.expected);
}

// The one answer to "when": what renew-status, the metrics and renew --due
// say is when the timer will act.
TEST(RenewalSchedule, TheNextAttemptIsTheLaterOfTheDueMomentAndTheBackoff) {
  const std::int64_t now = 1000 * kDay;
  host::lifecycle::RenewalState failedEarly;  // a manual renewal weeks before the due moment failed
  host::lifecycle::RecordFailure(failedEarly, now, "refused", now + 90 * kDay);
  host::lifecycle::RenewalState renewed;
  host::lifecycle::RecordSuccess(renewed, now, now + 60 * kDay);
  struct Case {
    const host::lifecycle::RenewalState* state;
    std::int64_t due, next;
  };
  const Case cases[] = {
      {&failedEarly, now + 30 * kDay, now + 30 * kDay},  // the backoff ends long before the due moment
      {&failedEarly, now - kDay, now + kHour},           // past due: the backoff rules
      {&renewed, now + 60 * kDay, now + 60 * kDay},
      {&renewed, now + 10 * kDay, now + 10 * kDay},  // the certificate was replaced since
  };
  for (const Case& c : cases) EXPECT_EQ(host::lifecycle::NextAttempt(c.due, *c.state), c.next);
  EXPECT_FALSE(host::lifecycle::RenewalLate(now + 13 * kHour, now)) << "a routine renewal is not late";
  EXPECT_TRUE(host::lifecycle::RenewalLate(now + 13 * kHour + 1, now));
  EXPECT_FALSE(host::lifecycle::RenewalLate(now + 2 * kHour, now, kHour * 3));
}

}  // namespace
