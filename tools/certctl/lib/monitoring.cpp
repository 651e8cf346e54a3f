#include "tools/certctl/lib/monitoring.h"

#include "tools/certctl/lib/failure.h"

namespace certctl {
Thresholds ThresholdsOf(std::int64_t warningDays, std::int64_t criticalDays) {
  const Thresholds thresholds{warningDays, criticalDays};
  if (thresholds.criticalDays > thresholds.warningDays)
    throw Failure(kExitUsage, "--critical must not be more days than --warning");
  return thresholds;
}

std::string DaysPerformance(const std::string& label, const std::int64_t* daysLeft, const Thresholds& thresholds) {
  return "'" + label + "'=" + (daysLeft ? std::to_string(*daysLeft) : "U") + ";" +
         std::to_string(thresholds.warningDays) + ";" + std::to_string(thresholds.criticalDays);
}

}  // namespace certctl
