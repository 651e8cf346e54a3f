// Dates as certctl reads and writes them: ISO 8601 in UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/monitoring/state.h"
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
using host::monitoring::DaysUntil;
using host::monitoring::SpanText;

}  // namespace certctl
