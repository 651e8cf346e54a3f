// Monitoring verdicts in the monitoring-plugin convention: a state per
// check, the worst one wins, and thresholds in days on a certificate's end.
// Shared by the checks of a peer and of the stored certificates; pure.
#pragma once

#include <cstdint>
#include <string>

namespace host::monitoring {

// The plugin states; each is the plugin's exit status.
enum class State { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

const char* NameOf(State state);
// The worst state wins: CRITICAL, then WARNING, then UNKNOWN, then OK (a
// record that cannot be read does not hide a certificate about to expire).
State Worse(State a, State b);

struct Thresholds {
  std::int64_t warningDays = 30;
  std::int64_t criticalDays = 7;
};
// The state of a certificate that ends `secondsLeft` from now.
State StateOfEnd(std::int64_t secondsLeft, const Thresholds& thresholds);

// Whole days from `now` to `seconds`, rounded down (negative once past).
std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now);
// A span of time as a person says it, rounded down to its largest whole
// unit: "3 days", "1 day", "6 hours", "1 hour", "40 minutes", "less than a
// minute"; a negative span as its length.
std::string SpanText(std::int64_t seconds);

}  // namespace host::monitoring
