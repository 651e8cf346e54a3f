#!/usr/bin/env bash
# Builds the benchmarks in a release build and runs them. Every figure is a
# ratio of a subject to its baseline measured in alternating batches in the
# same time window (the median of per-pair ratios, with its quartiles), so it
# reproduces on a machine whose speed drifts. Arguments go to both benchmark
# programs (for example --benchmark_filter=Query). Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j "$(nproc)" --target decoding_bench manager_bench certctl >/dev/null
status=0
for bench in build/bench/bench/decoding_bench build/bench/bench/manager_bench; do
  echo "== $bench"
  "$bench" "$@" 2>&1 | sed -n '/^paired ratio/,$p' || status=1
done

echo "== certctl as a process, against openssl x509"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -outform DER -out "$work/server.der" \
  -days 365 -subj "/C=US/O=Example Corp/CN=server.example.com" 2>/dev/null
scripts/process_bench.py build/bench/tools/certctl "$work/store.db" "$work/server.der" || status=1
exit $status
