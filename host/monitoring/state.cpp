#include "host/monitoring/state.h"

namespace host::monitoring {
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

State StateOfEnd(std::int64_t secondsLeft, const Thresholds& thresholds) {
  return secondsLeft < thresholds.criticalDays * 86400  ? State::Critical
         : secondsLeft < thresholds.warningDays * 86400 ? State::Warning
                                                        : State::Ok;
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

}  // namespace host::monitoring
