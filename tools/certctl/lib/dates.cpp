#include "tools/certctl/lib/dates.h"

#include <ctime>

namespace certctl {

std::string IsoFromIntervals(std::uint64_t intervalsSince1601) {
  return IsoFromSeconds(static_cast<std::int64_t>(intervalsSince1601 / 10000000) + kEpoch1601);
}

std::optional<std::int64_t> SecondsFromIso(const std::string& text) {
  for (const char* format : {"%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d"}) {
    std::tm time{};
    const char* end = strptime(text.c_str(), format, &time);
    if (end && !*end) return static_cast<std::int64_t>(timegm(&time));
  }
  return std::nullopt;
}

std::string SpanText(std::int64_t seconds) {
  const std::int64_t length = seconds < 0 ? -seconds : seconds;
  const auto count = [](std::int64_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
  };
  if (length >= 86400) return count(length / 86400, "day");
  if (length >= 3600) return count(length / 3600, "hour");
  if (length >= 60) return count(length / 60, "minute");
  return "less than a minute";
}

std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now) {
  const std::int64_t left = seconds - now;
  return left >= 0 ? left / 86400 : -((-left + 86399) / 86400);
}

}  // namespace certctl
