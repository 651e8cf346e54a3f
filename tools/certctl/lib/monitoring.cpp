#include "tools/certctl/lib/monitoring.h"

#include "tools/certctl/lib/failure.h"

namespace certctl {
namespace {

int Severity(State state) {
  static const int kSeverity[] = {0, 2, 3, 1};
  return kSeverity[static_cast<int>(state)];
}

}  // namespace

const char* NameOf(State state) {
  static const char* kNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  return kNames[static_cast<int>(state)];
}

State Worse(State a, State b) { return Severity(b) > Severity(a) ? b : a; }

Thresholds ThresholdsOf(std::int64_t warningDays, std::int64_t criticalDays) {
  const Thresholds thresholds{warningDays, criticalDays};
  if (thresholds.criticalDays > thresholds.warningDays)
    throw Failure(kExitUsage, "--critical must not be more days than --warning");
  return thresholds;
}

State StateOfEnd(std::int64_t secondsLeft, const Thresholds& thresholds) {
  return secondsLeft < thresholds.criticalDays * 86400  ? State::Critical
         : secondsLeft < thresholds.warningDays * 86400 ? State::Warning
                                                        : State::Ok;
}

std::string DaysPerformance(const std::string& label, const std::int64_t* daysLeft, const Thresholds& thresholds) {
  return "'" + label + "'=" + (daysLeft ? std::to_string(*daysLeft) : "U") + ";" +
         std::to_string(thresholds.warningDays) + ";" + std::to_string(thresholds.criticalDays);
}

}  // namespace certctl
