#!/usr/bin/env bash
# The suite's power to catch faults: applies each fault of scripts/mutants.tsv
# alone (one token changed in the component, its headers, the host or the
# tool), rebuilds incrementally, runs the release suite and reports whether
# the suite caught it. The source is restored after each fault.
#   scripts/mutants.sh [NAME...]    all faults, or only those named
# Builds in build/mutants (MUTANTS_BUILD_DIR) and runs the unmutated suite
# first: a suite that already fails stops it before any fault. Prints one
# table row per fault and the totals; exits non-zero when a fault survives
# or does not build.
#   MUTANTS_MATRIX=FILE    runs the whole suite on each fault, not only up to
#                          its first failure, and writes a row "FAULT<tab>TEST"
#                          per test that failed on it into FILE: with it, the
#                          faults only one test catches (slower: the whole
#                          suite, about two minutes, for every fault)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${MUTANTS_BUILD_DIR:-build/mutants}
jobs=$(nproc)
# Every fault's text must occur once in its file: a row the source has moved
# away from stops the run before anything is built.
python3 - <<'PY'
import sys
stale = []
for row in open("scripts/mutants.tsv"):
    fields = row.rstrip("\n").split("\t")
    if not fields[0] or fields[0].startswith("#"):
        continue
    name, path, old = fields[0], fields[1], fields[2].replace("\\n", "\n")
    count = open(path).read().count(old)
    if count != 1:
        stale.append(f"{name}: the text of the fault occurs {count} times in {path}")
sys.exit("\n".join(stale) or None)
PY
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
# A suite that fails already would count every fault as caught.
if ! ctest --test-dir "$build" -j "$jobs" --timeout 300 >"$build/unmutated.log" 2>&1; then
  grep -E 'Failed|Error' "$build/unmutated.log" | tail -20
  echo "the suite fails without any fault ($build/unmutated.log): nothing is measured" >&2
  exit 2
fi
echo "the unmutated suite passes"

restore=""
trap '[ -n "$restore" ] && git checkout -q -- "$restore"' EXIT

caught=0 survived=0 broken=0
# The suite runs up to its first failure, or whole for the matrix.
until=(--stop-on-failure)
[ -n "${MUTANTS_MATRIX:-}" ] && until=(--output-log "$build/fault.log") && : >"$MUTANTS_MATRIX"
printf '%-28s %s\n' "FAULT" "RESULT"
# The table is read on its own descriptor: a test that reads standard input
# cannot swallow the rows after its own; and the faults measured are counted
# against the rows selected, counted apart from the loop.
expected=$(awk -F'\t' -v names=" $* " '$1 != "" && $1 !~ /^#/ && (names == "  " || index(names, " " $1 " "))' \
  scripts/mutants.tsv | wc -l)
while IFS=$'\t' read -r name file from to <&3; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  if ! git diff --quiet -- "$file"; then echo "$file has uncommitted changes" >&2; exit 2; fi
  restore=$file
  python3 - "$file" "$from" "$to" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
text = open(path).read()
open(path, "w").write(text.replace(old, new, 1))  # found once: checked above
PY
  if ! cmake --build "$build" -j "$jobs" >/dev/null 2>&1; then
    result="does not build"; broken=$((broken + 1))
  elif ctest --test-dir "$build" -j "$jobs" "${until[@]}" --timeout 300 >/dev/null 2>&1 </dev/null; then
    result="SURVIVED"; survived=$((survived + 1))
  else
    result="caught"; caught=$((caught + 1))
  fi
  if [ -n "${MUTANTS_MATRIX:-}" ] && [ "$result" = caught ]; then
    sed -n '/^The following tests FAILED:/,/^$/s/^[[:space:]]*[0-9]* - \(.*\) ([^()]*)$/\1/p' "$build/fault.log" |
      sed "s/^/$name\t/" >>"$MUTANTS_MATRIX"
  fi
  git checkout -q -- "$file"
  restore=""
  printf '%-28s %s\n' "$name" "$result"
done 3< scripts/mutants.tsv
cmake --build "$build" -j "$jobs" >/dev/null  # back to the unchanged source
echo "$caught caught, $survived survived, $broken did not build"
if [ $((caught + survived + broken)) -ne "$expected" ]; then
  echo "only $((caught + survived + broken)) of $expected faults were measured" >&2
  exit 2
fi
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
