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
  const char* baseline;  // what it is compared with: "A", "A+B" or "N*A"
  double limit;          // ratio goal (0: report only); "min:" goals are lower bounds
  bool atLeast = false;  // the ratio must be at least `limit`
};

// The time of a baseline expression: a sum of terms, each "N*name" or "name".
inline double BaselineTime(const RatioReporter& reporter, const std::string& expression) {
  double total = 0;
  std::size_t start = 0;
  while (start <= expression.size()) {
    const std::size_t plus = expression.find('+', start);
    const std::string term = expression.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    const std::size_t star = term.find('*');
    const double factor = star == std::string::npos ? 1.0 : std::stod(term.substr(0, star));
    const double time = reporter.TimeOf(star == std::string::npos ? term : term.substr(star + 1));
    if (time == 0) return 0;
    total += factor * time;
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  return total;
}

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
    const double base = BaselineTime(reporter, goal.baseline);
    if (time == 0 || base == 0) continue;
    const double ratio = time / base;
    const bool met = goal.limit == 0 || (goal.atLeast ? ratio >= goal.limit : ratio <= goal.limit);
    missed += met ? 0 : 1;
    const std::string bound =
        goal.limit == 0 ? "-" : std::string(goal.atLeast ? ">=" : "<=") + std::to_string(goal.limit).substr(0, 4);
    std::printf("%-48s %-28s %8.3f %8s %s\n", goal.name, goal.baseline, ratio, bound.c_str(), met ? "" : "MISSED");
  }
  benchmark::Shutdown();
  return missed;
}

}  // namespace bench
