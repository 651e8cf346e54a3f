// Ratios that reproduce on a machine whose speed drifts: a subject and its
// baseline run in short alternating batches, one ratio per pair of batches,
// and the median ratio is reported with its spread. Drift slower than a pair
// (a few milliseconds) cancels out of every ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Work = std::function<void()>;

struct PairedRatio {
  double median = 0;
  double low = 0;   // 25th percentile
  double high = 0;  // 75th percentile
};

inline double SecondsOf(const Work& work, int repetitions) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repetitions; ++i) work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median and quartiles of per-pair ratios.
inline PairedRatio Summarize(std::vector<double> ratios) {
  std::sort(ratios.begin(), ratios.end());
  const auto at = [&](double quantile) { return ratios[static_cast<std::size_t>(quantile * (ratios.size() - 1))]; };
  return {at(0.5), at(0.25), at(0.75)};
}

// Runs of `work` that take about `seconds`.
inline int RepetitionsFor(const Work& work, double seconds) {
  const double once = SecondsOf(work, 5) / 5;
  return std::max(1, static_cast<int>(seconds / std::max(once, 1e-9)));
}

// `pairs` pairs of batches, the subject first in every other pair; one ratio
// of the time per run per pair. A batch takes about 5 ms of its own work
// (`repetitions` runs of each, when given), so a subject far cheaper than its
// baseline is still timed over many runs.
inline PairedRatio MeasurePaired(const Work& subject, const Work& baseline, int pairs = 51, int repetitions = 0) {
  subject();  // warm both up
  baseline();
  const int subjectRuns = repetitions ? repetitions : RepetitionsFor(subject, 0.005);
  const int baselineRuns = repetitions ? repetitions : RepetitionsFor(baseline, 0.005);
  std::vector<double> ratios;
  for (int pair = 0; pair < pairs; ++pair) {
    double subjectTime, baselineTime;
    if (pair % 2) {
      subjectTime = SecondsOf(subject, subjectRuns);
      baselineTime = SecondsOf(baseline, baselineRuns);
    } else {
      baselineTime = SecondsOf(baseline, baselineRuns);
      subjectTime = SecondsOf(subject, subjectRuns);
    }
    ratios.push_back((subjectTime / subjectRuns) / (baselineTime / baselineRuns));
  }
  return Summarize(std::move(ratios));
}

// One goal: a subject's time as a ratio to its baseline's.
struct PairedGoal {
  std::string name;
  std::function<PairedRatio()> measure;
  double limit;          // 0: reported only
  bool atLeast = false;  // the ratio must be at least `limit`
};

// Registers each goal as a benchmark that reports its paired ratio as
// counters, runs those the filter selects, and prints a table of ratios with
// their goals. Returns the number of goals missed.
inline int RunPairedGoals(int argc, char** argv, const std::vector<PairedGoal>& goals) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::pair<const PairedGoal*, PairedRatio>> results(goals.size());
  for (std::size_t i = 0; i < goals.size(); ++i) {
    benchmark::RegisterBenchmark(goals[i].name.c_str(),
                                 [&, i](benchmark::State& state) {
                                   for (auto _ : state) results[i] = {&goals[i], goals[i].measure()};
                                   state.counters["ratio"] = results[i].second.median;
                                   state.counters["p25"] = results[i].second.low;
                                   state.counters["p75"] = results[i].second.high;
                                 })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  int missed = 0;
  std::printf("\n%-44s %8s %17s %8s\n", "paired ratio", "median", "p25..p75", "goal");
  for (const auto& [goal, ratio] : results) {
    if (!goal) continue;  // filtered out
    const bool met = goal->limit == 0 || (goal->atLeast ? ratio.median >= goal->limit : ratio.median <= goal->limit);
    missed += met ? 0 : 1;
    char bound[16] = "-";
    if (goal->limit) std::snprintf(bound, sizeof(bound), "%s%.2f", goal->atLeast ? ">=" : "<=", goal->limit);
    std::printf("%-44s %8.3f %8.3f..%-8.3f %8s %s\n", goal->name.c_str(), ratio.median, ratio.low, ratio.high, bound,
                met ? "" : "MISSED");
  }
  return missed;
}

}  // namespace bench
