// What check and probe share as monitoring plugins: the states, which one
// wins, and the thresholds in days.
#pragma once

#include <cstdint>
#include <string>

namespace certctl {

// What a plugin's exit status means, for its help.
constexpr const char* kPluginExitStatus =
    R"(Exit status: the monitoring-plugin state of the first line: 0 OK, 1 WARNING,
2 CRITICAL, 3 UNKNOWN (also for bad usage, or a store that cannot be read).
)";

// The plugin states; each is the exit status.
enum class State { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

const char* NameOf(State state);
// The worst state wins: CRITICAL, then WARNING, then UNKNOWN, then OK (a
// record that cannot be read does not hide a certificate about to expire).
State Worse(State a, State b);

struct Thresholds {
  std::int64_t warningDays = 30;
  std::int64_t criticalDays = 7;
};
// -w/--warning and -c/--critical, as a command reads them; throws Failure
// (kExitUsage) for a critical threshold above the warning one.
Thresholds ThresholdsOf(std::int64_t warningDays, std::int64_t criticalDays);
// The state of a certificate that ends `secondsLeft` from now.
State StateOfEnd(std::int64_t secondsLeft, const Thresholds& thresholds);
// "'LABEL'=VALUE;WARNING;CRITICAL" ("U" for an unknown value).
std::string DaysPerformance(const std::string& label, const std::int64_t* daysLeft, const Thresholds& thresholds);

}  // namespace certctl
