// Dates as certctl reads and writes them: ISO 8601 in UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ossl/text.h"

namespace certctl {

// 1601-01-01T00:00:00Z in seconds since 1970: where the component's dates
// (100-ns intervals since 1601, an unsigned count) begin.
constexpr std::int64_t kEpoch1601 = -11644473600;

// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970 ("unknown" for -1).
using ossl::IsoFromSeconds;
// The same of a count of 100-ns intervals since 1601.
std::string IsoFromIntervals(std::uint64_t intervalsSince1601);
// Seconds since 1970 of "YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS" or
// "YYYY-MM-DDTHH:MM:SSZ" (UTC); nullopt for anything else.
std::optional<std::int64_t> SecondsFromIso(const std::string& text);
// Whole days from `now` to `seconds`, rounded down (negative once past).
std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now);
// A span of time as a person says it, rounded down to its largest whole
// unit: "3 days", "1 day", "6 hours", "1 hour", "40 minutes", "less than a
// minute"; a negative span as its length.
std::string SpanText(std::int64_t seconds);

}  // namespace certctl
