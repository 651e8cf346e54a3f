// Runs the registered benchmarks and prints each one's time as a ratio to a
// baseline measured in the same run, so goals hold on any (noisy) machine.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
        m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double TimeOf(const std::string& name) const {
    for (const auto& [runName, time] : m_times)
      if (runName == name || runName.rfind(name + "/", 0) == 0 || runName.rfind(name + "_", 0) == 0) return time;
    return 0;
  }

 private:
  std::map<std::string, double> m_times;
};

struct Goal {
  const char* name;      // benchmark measured
  const char* baseline;  // benchmark it is compared with
  double limit;          // ratio goal (0: report only)
};

// Runs everything, then prints "name / baseline = ratio (goal)". Returns the
// number of goals missed.
inline int RunWithRatios(int argc, char** argv, const std::vector<Goal>& goals) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  int missed = 0;
  std::printf("\n%-48s %-28s %8s %8s\n", "measured", "against", "ratio", "goal");
  for (const Goal& goal : goals) {
    const double time = reporter.TimeOf(goal.name);
    const double base = reporter.TimeOf(goal.baseline);
    if (time == 0 || base == 0) continue;
    const double ratio = time / base;
    const bool met = goal.limit == 0 || ratio <= goal.limit;
    missed += met ? 0 : 1;
    std::printf("%-48s %-28s %8.3f %8s %s\n", goal.name, goal.baseline, ratio,
                goal.limit == 0 ? "-" : ("<=" + std::to_string(goal.limit).substr(0, 4)).c_str(),
                met ? "" : "MISSED");
  }
  benchmark::Shutdown();
  return missed;
}

}  // namespace bench
