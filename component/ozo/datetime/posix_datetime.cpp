#include "ozo/datetime/posix_datetime.h"

#include <string>

#include "ozo/error_handling/exception.h"

namespace ozo::datetime {
namespace {

constexpr const char* kFile = "ozo/system/datetime/posix/datetime";

[[noreturn]] void ThrowInvalid(std::int32_t line, const char* text, std::int64_t value) {
  std::u16string message;
  for (const char* p = text; *p; ++p) message.push_back(static_cast<char16_t>(*p));
  for (char c : std::to_string(static_cast<std::uint64_t>(value))) message.push_back(static_cast<char16_t>(c));
  throw TimeSystemError(kFile, line, results::InvalidArgument, std::move(message));
}

}  // namespace

utc_time_t PosixToUtcTime(std::int64_t seconds, std::int64_t microseconds) {
  if (seconds < -kSecondsLimit || seconds > kSecondsLimit) ThrowInvalid(160, "Invalid timestamp: epoch ", seconds);
  if (microseconds < -kMicrosecondsLimit || microseconds > kMicrosecondsLimit)
    ThrowInvalid(163, "Invalid timestamp: usec ", microseconds);
  // Each term fits in 63 bits by the limits above, but their sum need not: a
  // sum out of range is the microseconds' fault (they overshoot what the
  // seconds leave), reported as an invalid microseconds value.
  utc_time_t result = 0;
  if (__builtin_add_overflow(seconds * 10000000, microseconds * 10, &result))
    ThrowInvalid(163, "Invalid timestamp: usec ", microseconds);
  if (result < kUtcTimeMin) ThrowInvalid(166, "Invalid utc timestamp for posix platform ", result);
  return result;
}

}  // namespace ozo::datetime
