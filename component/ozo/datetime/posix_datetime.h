// POSIX time to the framework's UTC time.
#pragma once

#include <cstdint>

namespace ozo::datetime {

// 100-ns units since 1970-01-01 00:00:00 UTC.
using utc_time_t = std::int64_t;

// The lowest valid value: 1601-01-01 00:00:00 UTC. Adding its magnitude gives
// a count since 1601.
constexpr utc_time_t kUtcTimeMin = -116444736000000000;
constexpr std::int64_t kSecondsLimit = 922337203685;
constexpr std::int64_t kMicrosecondsLimit = 922337203685477580;

// seconds * 10^7 + microseconds * 10. Throws TimeSystemError ("Invalid
// argument") when the seconds or microseconds lie outside their limits or the
// result lies before 1601.
utc_time_t PosixToUtcTime(std::int64_t seconds, std::int64_t microseconds);

}  // namespace ozo::datetime
