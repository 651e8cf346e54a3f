#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for
# SECONDS (default 30). With --seeds, first rewrites the seed corpora in
# fuzz/corpus from the tests' certificate builder.
#   scripts/fuzz.sh [--seeds] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [ "${1:-}" = "--seeds" ]; then
  shift
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release --target make_fuzz_seeds
  build/release/tests/make_fuzz_seeds fuzz/corpus
fi
seconds=${1:-30}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCM_FUZZ=ON \
  -DCM_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzz_run 2>&1 | grep -E "^#[0-9]+.*DONE|stat::number_of_executed_units|ERROR|SUMMARY|Done [0-9]+ runs" || true
if ls build/fuzz/fuzz/artifacts/* >/dev/null 2>&1; then
  echo "fuzzing found failures: build/fuzz/fuzz/artifacts"; exit 1
fi
echo "fuzzing: no failures"
