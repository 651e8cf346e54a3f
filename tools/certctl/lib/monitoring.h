// What check and probe share as monitoring plugins: the host's verdicts
// (states, which one wins, thresholds in days, a peer's verdict), and how
// certctl reads and prints them.
#pragma once

#include <cstdint>
#include <string>

#include "host/monitoring/peer_probe.h"
#include "host/monitoring/peer_verdict.h"
#include "host/monitoring/state.h"

namespace certctl {

// What a plugin's exit status means, for its help.
constexpr const char* kPluginExitStatus =
    R"(Exit status: the monitoring-plugin state of the first line: 0 OK, 1 WARNING,
2 CRITICAL, 3 UNKNOWN (also for bad usage, or a store that cannot be read).
)";

// The verdicts' rules are the host's; certctl prints them.
using host::monitoring::JudgePeer;
using host::monitoring::NameOf;
using host::monitoring::ProbeOptions;
using host::monitoring::ProbePeer;
using host::monitoring::ProbeSucceeded;
using host::monitoring::ProbeVerdict;
using host::monitoring::State;
using host::monitoring::StateOfEnd;
using host::monitoring::Thresholds;
using host::monitoring::Unknown;
using host::monitoring::Works;
using host::monitoring::Worse;

// -w/--warning and -c/--critical, as a command reads them; throws Failure
// (kExitUsage) for a critical threshold above the warning one.
Thresholds ThresholdsOf(std::int64_t warningDays, std::int64_t criticalDays);
// "'LABEL'=VALUE;WARNING;CRITICAL" ("U" for an unknown value).
std::string DaysPerformance(const std::string& label, const std::int64_t* daysLeft, const Thresholds& thresholds);

}  // namespace certctl
