#!/usr/bin/env bash
# Which tests reach production lines that no other test reaches: builds with
# clang's source-based coverage, runs each test of the suite alone (the
# kills aside: a killed process writes no profile) and writes, per test, the
# production lines (include/ component/ host/ tools/ ossl/) it covers and
# how many of them only it covers, fewest first, into BUILD/unique.txt. A
# test with none is a candidate for a table row or for removal, unless it
# proves what line coverage cannot see: a wipe, a kill, a file's mode, an
# output's words. Not part of the test command (about 20 minutes on two
# cores).
#   scripts/unique-coverage.sh      builds in build/coverage (COVERAGE_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${COVERAGE_BUILD_DIR:-build/coverage}
flags="-fprofile-instr-generate -fcoverage-mapping"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_CXX_FLAGS="$flags -O1" -DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate \
  -DCMAKE_SHARED_LINKER_FLAGS=-fprofile-instr-generate >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

# One folder of profiles per test, writable by the other user some
# sessions run commands as.
profiles=$(realpath "$build")/profiles
rm -rf "$profiles" && mkdir -m 1777 "$profiles"
ctest --test-dir "$build" -N -LE kills | sed -n 's/^ *Test *#[0-9]*: //p' >"$profiles/names"
index=0
while IFS= read -r name <&3; do
  index=$((index + 1))
  mkdir -m 1777 "$profiles/$index"
  pattern=$(sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$name")
  LLVM_PROFILE_FILE="$profiles/$index/%4m.profraw" ctest --test-dir "$build" -R "^$pattern\$" >/dev/null 2>&1 ||
    echo "failed under coverage (its lines still count): $name" >&2
done 3<"$profiles/names"

python3 - "$build" "$profiles" <<'PY'
import collections, os, subprocess, sys
build, profiles = sys.argv[1], sys.argv[2]
production = tuple(d + "/" for d in ("include", "component", "host", "tools", "ossl"))
binaries = []
for folder in ("component", "tools", "tests"):
    for entry in sorted(os.listdir(f"{build}/{folder}")):
        path = f"{build}/{folder}/{entry}"
        if os.path.isfile(path) and open(path, "rb").read(4) == b"\x7fELF":
            binaries.append(path)
objects = [binaries[0]] + [arg for path in binaries[1:] for arg in ("-object", path)]
names = open(f"{profiles}/names").read().splitlines()
covered = {}
for index, name in enumerate(names, 1):
    folder = f"{profiles}/{index}"
    raw = [f"{folder}/{f}" for f in os.listdir(folder) if f.endswith(".profraw")]
    lines = set()
    if raw:
        subprocess.run(["llvm-profdata", "merge", "-sparse", *raw, "-o", f"{folder}/merged"], check=True)
        lcov = subprocess.run(["llvm-cov", "export", "-format=lcov", "-skip-expansions", "-skip-functions",
                               "-instr-profile", f"{folder}/merged", *objects],
                              check=True, capture_output=True, text=True).stdout
        source = ""
        for line in lcov.splitlines():
            if line.startswith("SF:"):  # the build's own prefix ("build/x/./") dropped
                source = os.path.relpath(os.path.normpath(line[3:].split("/./")[-1]))
            elif line.startswith("DA:") and source.startswith(production) and int(line.split(",")[1]) > 0:
                lines.add((source, int(line[3:].split(",")[0])))
    covered[name.split("  # ")[0]] = lines
reached = collections.Counter(line for lines in covered.values() for line in lines)
with open(f"{build}/unique.txt", "w") as report:
    report.write("ONLY  COVERED  TEST (and where its own lines are)\n")
    for name, lines in sorted(covered.items(), key=lambda item: sum(reached[l] == 1 for l in item[1])):
        own = collections.Counter(source for source, number in lines if reached[(source, number)] == 1)
        where = ", ".join(f"{source} {count}" for source, count in own.most_common(3))
        report.write(f"{sum(own.values()):4d}  {len(lines):7d}  {name}{'  (' + where + ')' if where else ''}\n")
print(f"{build}/unique.txt: {len(covered)} tests, {len(reached)} production lines covered")
PY
