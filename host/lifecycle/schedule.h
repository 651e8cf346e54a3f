// When a client certificate is renewed, and when again after a failure: the
// rules every renewal of a store follows, whoever runs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/lifecycle/records.h"

namespace host::lifecycle {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;
// The most failures in a row a state counts: more stay this many.
constexpr std::int64_t kMaxFailures = 1'000'000;

// Whether `beforeDays` days before the end of a certificate valid from
// `notBefore` to `notAfter` is still within its lifetime. A renewal
// setting that is not would make a certificate due before it was issued.
bool BeforeFits(std::int64_t notBefore, std::int64_t notAfter, std::optional<std::int64_t> beforeDays);

// When a certificate valid from `notBefore` to `notAfter` is due: at two
// thirds of its lifetime, or `beforeDays` days before its end when that
// comes first and fits (BeforeFits); at two thirds when it does not.
std::int64_t DueTime(std::int64_t notBefore, std::int64_t notAfter, std::optional<std::int64_t> beforeDays);

// When to try again after the `failures`-th failure in a row at `now`: 1 h,
// 2 h, 4 h ... after it, at most a day; never later than a day before
// `notAfter`, and within that last day an hour after each failure: the
// next run tries again, and the next attempt said is never the moment
// that failed.
std::int64_t RetryTime(std::int64_t now, std::int64_t failures, std::int64_t notAfter);

// How long past its due moment a renewal may take before it is late: the
// shipped timer runs every 12 h with up to 1 h of random delay, so a
// routine renewal comes within 13 h of its due moment.
constexpr std::int64_t kRenewalGraceSeconds = 13 * kHour;

// When a slot whose certificate is due at `due` will next be renewed with
// `state`, as the timer's `renew --all --due` acts: at its due moment, or,
// while failures back off, at the later of that and the next attempt they
// set. Only a slot with renewal settings is ever renewed on its own: the
// caller asks for those.
std::int64_t NextAttempt(std::int64_t due, const RenewalState& state);

// Whether such a slot is to be renewed at `now`: NextAttempt has come.
bool RenewalDue(std::int64_t now, std::int64_t due, const RenewalState& state);

// Whether a renewal due at `due` is late at `now`: more than `graceSeconds`
// have passed since, and the certificate is still the one that was due.
bool RenewalLate(std::int64_t now, std::int64_t due, std::int64_t graceSeconds = kRenewalGraceSeconds);

// A failed attempt at `now`: counted (up to kMaxFailures), its words kept, the next attempt set
// by RetryTime. The last success stays.
void RecordFailure(RenewalState& state, std::int64_t now, const std::string& error, std::int64_t notAfter);

// A renewal done at `now` whose new certificate is due at `due`: no failure
// left, the next attempt at `due`.
void RecordSuccess(RenewalState& state, std::int64_t now, std::int64_t due);

}  // namespace host::lifecycle
