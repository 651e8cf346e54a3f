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

// When a certificate valid from `notBefore` to `notAfter` is due: at two
// thirds of its lifetime, or `beforeDays` days before its end when that
// comes first.
std::int64_t DueTime(std::int64_t notBefore, std::int64_t notAfter, std::optional<std::int64_t> beforeDays);

// When to try again after the `failures`-th failure in a row at `now`: 1 h,
// 2 h, 4 h ... after it, at most a day; never later than a day before
// `notAfter`, nor earlier than `now`.
std::int64_t RetryTime(std::int64_t now, std::int64_t failures, std::int64_t notAfter);

// Whether a slot whose certificate is due at `due` is to be renewed at `now`
// with `state`: past its due time, and, while failures back off, past the
// next attempt they set.
bool RenewalDue(std::int64_t now, std::int64_t due, const RenewalState& state);

// A failed attempt at `now`: counted, its words kept, the next attempt set
// by RetryTime. The last success stays.
void RecordFailure(RenewalState& state, std::int64_t now, const std::string& error, std::int64_t notAfter);

// A renewal done at `now` whose new certificate is due at `due`: no failure
// left, the next attempt at `due`.
void RecordSuccess(RenewalState& state, std::int64_t now, std::int64_t due);

}  // namespace host::lifecycle
