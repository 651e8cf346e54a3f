#include "host/lifecycle/schedule.h"

#include <algorithm>

namespace host::lifecycle {

bool BeforeFits(std::int64_t notBefore, std::int64_t notAfter, std::optional<std::int64_t> beforeDays) {
  return !beforeDays || *beforeDays * kDay < notAfter - notBefore;
}

std::int64_t DueTime(std::int64_t notBefore, std::int64_t notAfter, std::optional<std::int64_t> beforeDays) {
  const std::int64_t twoThirds = notBefore + (notAfter - notBefore) / 3 * 2;
  if (!beforeDays || !BeforeFits(notBefore, notAfter, beforeDays)) return twoThirds;
  return std::min(twoThirds, notAfter - *beforeDays * kDay);
}

std::int64_t RetryTime(std::int64_t now, std::int64_t failures, std::int64_t notAfter) {
  const int doublings = static_cast<int>(std::clamp<std::int64_t>(failures - 1, 0, 5));
  const std::int64_t wait = std::min(kHour << doublings, kDay);
  return std::min(now + wait, std::max(notAfter - kDay, now + kHour));
}

std::int64_t NextAttempt(std::int64_t due, const RenewalState& state) {
  // The next attempt holds while failures back off; after a success the
  // certificate's own due time rules (it may have been replaced since).
  return state.failures > 0 && state.nextAttempt ? std::max(due, *state.nextAttempt) : due;
}

bool RenewalDue(std::int64_t now, std::int64_t due, const RenewalState& state) {
  return now >= NextAttempt(due, state);
}

bool RenewalLate(std::int64_t now, std::int64_t due, std::int64_t graceSeconds) { return now > due + graceSeconds; }

void RecordFailure(RenewalState& state, std::int64_t now, const std::string& error, std::int64_t notAfter) {
  state.lastAttempt = now;
  state.failures = state.failures >= kMaxFailures ? kMaxFailures : std::max<std::int64_t>(state.failures, 0) + 1;
  state.lastError = error;
  state.nextAttempt = RetryTime(now, state.failures, notAfter);
}

void RecordSuccess(RenewalState& state, std::int64_t now, std::int64_t due) {
  state.lastAttempt = now;
  state.lastSuccess = now;
  state.failures = 0;
  state.lastError.clear();
  state.nextAttempt = due;
}

}  // namespace host::lifecycle
