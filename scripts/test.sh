#!/usr/bin/env bash
# The project's test command: installs what is missing, then builds and runs
#  1. every test in a release build;
#  2. every test under AddressSanitizer + UndefinedBehaviorSanitizer but the
#     kill tests (label kills: what SIGKILL leaves, which a sanitizer adds
#     nothing to, in hundreds of runs that are slow under one);
#  3. the concurrency tests under ThreadSanitizer;
#  4. the end-to-end test under valgrind memcheck (no definite leak allowed);
#  5. each libFuzzer target for FUZZ_SECONDS (default 15: a smoke run in the
#     suite; scripts/fuzz.sh SECONDS fuzzes longer) with clang;
#  6. the Debian packages and the installed files (scripts/package-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
# Each stage says how long it took, so that the whole stays well within CI's
# budget and the stage to trim is known.
stage() {
  [ -n "${stage_name:-}" ] && echo "-- ${stage_name}: $((SECONDS - stage_start)) s"
  stage_name=$1 stage_start=$SECONDS
  echo "== $1"
}
trap '[ -n "${stage_name:-}" ] && echo "-- ${stage_name}: $((SECONDS - stage_start)) s (total ${SECONDS} s)"' EXIT

configure_and_build() {  # <build dir> [targets...] -- <cmake args...>
  local dir=$1
  shift
  local targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do targets+=(--target "$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

stage "release build: all tests"
# Installed under /usr, as the packages are: the package stage packages
# this build.
configure_and_build build/release -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
ctest --test-dir build/release -j "$jobs" --output-on-failure --timeout 600

stage "AddressSanitizer + UndefinedBehaviorSanitizer: all tests but the kills"
configure_and_build build/asan -- -DCMAKE_BUILD_TYPE=Debug -DCM_SANITIZER=address
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j "$jobs" --output-on-failure --timeout 600 -LE kills

stage "ThreadSanitizer: concurrency tests"
configure_and_build build/tsan concurrency_tests certctl_concurrency_tests -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCM_SANITIZER=thread
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -L concurrency --output-on-failure --timeout 600

stage "valgrind memcheck: end-to-end test"
valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=1 \
  build/release/tests/e2e_tests
echo "valgrind: no errors, no definite leaks"

stage "libFuzzer targets, ${FUZZ_SECONDS:-15} s each"
scripts/fuzz.sh "${FUZZ_SECONDS:-15}"

stage "packages: build, lintian, the example host on a staged install, dpkg -i and removal"
scripts/package-check.sh build/release
