#!/usr/bin/env bash
# Builds the benchmarks in a release build and runs them; each prints its
# results as ratios to a baseline measured in the same run. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j "$(nproc)" --target decoding_bench manager_bench
for bench in build/bench/bench/*_bench; do
  echo "== $bench"
  "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@" || true
done
