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

}  // namespace certctl
