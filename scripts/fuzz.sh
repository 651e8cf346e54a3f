#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for
# SECONDS (default 30) from its seed corpus in fuzz/corpus. When the shared
# vectors are there ($CM_VECTORS_DIR, else ../shared/vectors) they seed the
# decoding targets too, read where they are: server decoding and DER-to-PEM
# take every file, client decoding each container of tests/data/vectors.txt
# with its password in front (the target's input form), written under the
# build folder. Reports, per target, the executions, executions per second
# and coverage, and keeps a minimised corpus of what it found in
# build/fuzz/minimised/TARGET. Fails on the first step that fails: a target
# that does not build, a crash or leak found (its input is in
# build/fuzz/artifacts), a report that cannot be read.
#   scripts/fuzz.sh [--seeds] [SECONDS]
# With --seeds, first rewrites the seed corpora in fuzz/corpus from the
# tests' certificate builder.
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
build=build/fuzz
targets=(parse_server parse_client der_to_pem manager restore)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCM_FUZZ=ON >/dev/null
if ! cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzzer}" >"$build/build.log" 2>&1; then
  grep -E -A5 'error|Error' "$build/build.log" | head -40
  echo "the fuzz targets do not build ($build/build.log)"
  exit 1
fi

vectors=${CM_VECTORS_DIR:-../shared/vectors}
extra_server=() extra_client=()
if [ -d "$vectors" ]; then
  extra_server=("$vectors")
  client_seeds="$build/vector-seeds/parse_client"
  rm -rf "$client_seeds" && mkdir -p "$client_seeds"
  python3 - "$vectors" "$client_seeds" tests/data/vectors.txt <<'PY'
import os, shlex, sys
vectors, out, table = sys.argv[1:4]
for line in open(table):
    fields = shlex.split(line, comments=True)
    if len(fields) < 3 or fields[1] != "p12":
        continue
    name, password = fields[0], b"" if fields[2] == "-" else fields[2].encode()
    with open(os.path.join(vectors, name), "rb") as container:
        seed = bytes([len(password)]) + password + container.read()
    with open(os.path.join(out, name + "." + str(len(os.listdir(out)))), "wb") as f:
        f.write(seed)
PY
  extra_client=("$client_seeds")
  echo "fuzzing with the shared vectors in $vectors as extra seeds"
else
  echo "no shared vectors in $vectors: fuzzing from fuzz/corpus only"
fi

rm -rf "$build/artifacts" && mkdir -p "$build/artifacts"
printf '%-14s %12s %10s %8s %10s\n' TARGET EXECUTIONS "EXEC/S" COVERAGE MINIMISED
for target in "${targets[@]}"; do
  fuzzer="$build/fuzz/${target}_fuzzer"
  work="$build/corpus/$target" minimised="$build/minimised/$target" log="$build/$target.log"
  mkdir -p "$work"
  extra=()
  case $target in
    parse_server | der_to_pem) extra=("${extra_server[@]}") ;;
    parse_client) extra=("${extra_client[@]}") ;;
  esac
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" "${extra[@]}" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzzing $target found a failure: $build/artifacts"
    exit 1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(sed -nE 's/^#[0-9]+[[:space:]]+DONE[[:space:]]+cov: ([0-9]+).*/\1/p' "$log")
  if [ -z "$executions" ] || [ -z "$rate" ] || [ -z "$coverage" ]; then
    echo "cannot read the final statistics of $target in $log"
    exit 1
  fi
  rm -rf "$minimised" && mkdir -p "$minimised"
  if ! "$fuzzer" -merge=1 "$minimised" "$work" "fuzz/corpus/$target" "${extra[@]}" >"$log.merge" 2>&1; then
    tail -20 "$log.merge"
    echo "cannot minimise the corpus of $target"
    exit 1
  fi
  printf '%-14s %12s %10s %8s %10s\n' "$target" "$executions" "$rate" "$coverage" "$(ls "$minimised" | wc -l)"
done
echo "fuzzing: ${#targets[@]} targets ran ${seconds} s each without a failure"
