#!/usr/bin/env bash
# The packages and the installed files, as an integrator meets them:
#  1. builds the Debian packages twice from this commit, in two folders
#     (build/package, or the build folder given, and build/package-again,
#     which builds no tests), and compares them byte for byte: a build whose
#     tests are on makes the same packages, so the test command packages its
#     release build instead of building a third time;
#  2. lintian at its pedantic level: any finding fails, but those the
#     packages explain in their overrides (dist/debian/lintian-overrides);
#  3. checksec on every binary the packages install: full RELRO, stack
#     protector, FORTIFY, NX, PIE;
#  4. a staged install (DESTDIR): every header compiles on its own; a project
#     per CMake target (headers with the module, reference_host) builds and
#     runs; the guide's host, taken from docs/host-guide.md as it stands,
#     builds with CMake and with pkg-config (also --define-prefix) and runs
#     on a store whose locks and events certctl shares; the guide's renewal
#     (mock CA, a TLS peer, the due loop) and its test with the installed
#     doubles run as written; the example host runs;
#  5. as root: installs the packages with dpkg -i, runs certctl --help, finds
#     its man page and runs a set/query/check cycle from the installed files
#     alone, sets root's default store without HOME as the metrics unit reads
#     it, then purges the packages.
#   scripts/package-check.sh [BUILD_FOLDER]
set -euo pipefail
# Whether what a command printed holds PATTERN. The output is taken whole
# first: grep -q in a pipe stops reading at its match, and the writer's
# SIGPIPE then fails the pipeline under pipefail, by chance of timing.
prints() {  # PATTERN COMMAND...
  local pattern=$1 printed
  shift
  printed=$("$@") && grep -q -- "$pattern" <<<"$printed"
}
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
installed=""
sudo=""
# Whatever fails, the packages this check installed are purged and its
# scratch folder goes; the check's status stays that of the failed step.
cleanup() {
  local status=$?
  if [ -n "$installed" ]; then
    $sudo dpkg --purge certificates-manager-dev certificates-manager >/dev/null || status=1
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

# Reproducible: the packages' dates are the commit's.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
build_packages() {  # <build folder> [cmake arguments]; on failure, the end of its log says why
  mkdir -p "$1"
  if ! { cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr "${@:2}" &&
    cmake --build "$1" -j "$(nproc)" && rm -f "$1"/*.deb && (cd "$1" && cpack); } >"$1/package.log" 2>&1; then
    tail -30 "$1/package.log"
    echo "the packages do not build in $1 ($1/package.log)"
    exit 1
  fi
}
build=${1:-build/package}
if [ $# -gt 0 ]; then build_packages "$build"; else build_packages "$build" -DCM_BUILD_TESTS=OFF; fi
build_packages build/package-again -DCM_BUILD_TESTS=OFF
debs=("$build"/certificates-manager_*.deb "$build"/certificates-manager-dev_*.deb)
for deb in "${debs[@]}"; do
  echo "-- $(basename "$deb")"
  dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends|Recommends|Section):'
  cmp "$deb" "build/package-again/$(basename "$deb")"
done
echo "-- the packages are byte-identical when built again in another folder"

echo "-- lintian --pedantic"
lintian --pedantic --fail-on error,warning,info,pedantic "${debs[@]}" 2>&1 | sed '/running with root privileges/d'

echo "-- checksec"
dpkg-deb -x "${debs[0]}" "$work/deb"
find "$work/deb" -type f \( -perm -u+x -o -name '*.so' \) -print0 | while IFS= read -r -d '' binary; do
  readelf -h "$binary" >/dev/null 2>&1 || continue  # ELF files only
  checksec --file="$binary" --output=json | python3 -c '
import json, sys
verdict = next(iter(json.load(sys.stdin).values()))
wanted = {"relro": ("full",), "canary": ("yes",), "nx": ("yes",), "pie": ("yes", "dso"), "fortify_source": ("yes",)}
missing = [key for key, good in wanted.items() if verdict.get(key) not in good]
print(sys.argv[1], "lacks" if missing else "is hardened:", " ".join(missing) if missing else "full RELRO, canary, NX, PIE, FORTIFY")
sys.exit(1 if missing else 0)' "${binary#"$work/deb"}"
done

echo "-- a staged install: headers, CMake targets, pkg-config, the guide's host, the example host"
stage=$work/stage
DESTDIR="$stage" cmake --install "$build" >/dev/null
headers="$stage/usr/include/certificates_manager"
(cd "$headers" && find . -name '*.h' | sed 's|^\./||') | while read -r header; do
  echo "#include \"$header\"" | g++ -std=c++17 -fsyntax-only -I"$headers" -x c++ - ||
    { echo "$header does not compile on its own"; exit 1; }
done
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -out "$work/server.pem" -days 90 -subj "/CN=example.test" 2>/dev/null

# CertificatesManager::headers and ::module alone: the module loads.
mkdir "$work/headers"
cat > "$work/headers/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.24)
project(headers LANGUAGES CXX)
find_package(CertificatesManager 1.0 REQUIRED)
add_executable(headers main.cpp)
target_link_libraries(headers PRIVATE CertificatesManager::headers ${CMAKE_DL_LIBS})
target_compile_definitions(headers PRIVATE MODULE="$<TARGET_FILE:CertificatesManager::module>")
EOF
cat > "$work/headers/main.cpp" <<'EOF'
#include <dlfcn.h>
#include <cstdio>
#include "ozo/module.h"
int main() {
  void* module = dlopen(MODULE, RTLD_NOW);
  auto canUnload = module ? reinterpret_cast<ozoCanUnloadModuleFn>(dlsym(module, "ozoCanUnloadModule")) : nullptr;
  std::printf("module %s, ozoCanUnloadModule %d\n", MODULE, canUnload ? canUnload() : -1);
  return canUnload && canUnload() == 0 ? 0 : 1;
}
EOF
cmake -S "$work/headers" -B "$work/headers/build" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$work/headers/build" >/dev/null
"$work/headers/build/headers"

# CertificatesManager::reference_host alone, and pkg-config: the guide's host.
guide_block() {  # the fenced block after the guide's marker for $1
  awk -v marker="<!-- the guide's host: $1 -->" '$0 == marker { take = 1; next }
    take && /^```/ { if (inside) exit; inside = 1; next } take && inside' docs/host-guide.md
}
mkdir "$work/guide"
guide_block host.cpp > "$work/guide/host.cpp"
guide_block CMakeLists.txt > "$work/guide/CMakeLists.txt"
[ -s "$work/guide/host.cpp" ]  # each test alone: under set -e a failed test in a && list does not stop
[ -s "$work/guide/CMakeLists.txt" ]
cmake -S "$work/guide" -B "$work/guide/build" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$work/guide/build" >/dev/null
PKG_CONFIG_PATH="$stage/usr/lib/$(gcc -print-multiarch)/pkgconfig"
export PKG_CONFIG_PATH
module=$(pkg-config --variable=module certificates_manager)
# shellcheck disable=SC2046  # pkg-config's flags are words
g++ -std=c++17 "$work/guide/host.cpp" $(pkg-config --cflags --libs certificates_manager_host) -o "$work/guide/host-pc"
# shellcheck disable=SC2046
g++ -std=c++17 "$work/guide/host.cpp" $(pkg-config --define-prefix --cflags --libs certificates_manager_host) \
  -o "$work/guide/host-prefixed"
certctl=$stage/usr/bin/certctl
store=$work/guide/store.db
prints '^0x00000000 {"Subject":"CN=example.test"' "$work/guide/build/host" "$module" "$store" "$work/server.pem"
prints '^0x00000000' "$work/guide/host-pc" "$module" "$store" "$work/server.pem"  # the same one: set is "False"
prints ZepaEdrServerCertificateAdded "$certctl" --store "$store" events
"$certctl" --store "$store" policy lock edr server >/dev/null
"$certctl" --store "$store" remove-server edr --policy >/dev/null
if "$work/guide/host-prefixed" "$module" "$store" "$work/server.pem" >"$work/guide/locked.out"; then
  echo "the guide's host ignored the lock certctl set"; exit 1
fi
grep -q '^0x80000045' "$work/guide/locked.out"
echo "the guide's host: built with CMake and pkg-config, shares the store's locks and journal with certctl"

# The guide's in-process renewal, run as the guide has it: its program built
# with pkg-config, its steps in an empty folder (a CA, the store set up
# through the module and the library, OpenSSL's mock CA, the renewal).
renewal=$work/guide/renewal
mkdir "$renewal"
guide_block renew.cpp > "$renewal/renew.cpp"
guide_block renew.sh > "$renewal/renew.sh"
[ -s "$renewal/renew.cpp" ]
[ -s "$renewal/renew.sh" ]
# shellcheck disable=SC2046
g++ -std=c++17 "$renewal/renew.cpp" $(pkg-config --cflags --libs certificates_manager_host) -o "$renewal/renew"
(cd "$renewal" && MODULE=$module bash -euo pipefail renew.sh >renew.out 2>renew.err) ||
  { cat "$renewal/renew.err" "$renewal/ca.log"; echo "the guide's renewal failed"; exit 1; }
grep -q '^renewed: CN=agent.test, serial [0-9A-F]*, tried against 127.0.0.1:18830' "$renewal/renew.out"
grep -q '^edr: not due before ' "$renewal/renew.out"
prints 'operation renew' "$certctl" --store "$renewal/store.db" events
echo "the guide's renewal: built with pkg-config, renewed the edr client certificate over CMP in-process," \
  "tried against openssl s_server -Verify 1, then renewed what was due in one call"

# The guide's test of a host with the installed doubles, no network: with
# CMake (its ctest) and with pkg-config.
doubles=$work/guide/test
mkdir "$doubles"
guide_block test.cpp > "$doubles/test.cpp"
guide_block test/CMakeLists.txt > "$doubles/CMakeLists.txt"
[ -s "$doubles/test.cpp" ]
[ -s "$doubles/CMakeLists.txt" ]
cmake -S "$doubles" -B "$doubles/build" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$doubles/build" >/dev/null
ctest --test-dir "$doubles/build" --output-on-failure >/dev/null
# shellcheck disable=SC2046
g++ -std=c++17 "$doubles/test.cpp" $(pkg-config --cflags --libs certificates_manager_testing) -o "$doubles/test-pc"
prints '^refused: the CA at http://ca.test/: .* (Unspecified error)$' "$doubles/test-pc" "$module"
echo "the guide's test: the installed doubles renew in-process, built with CMake and pkg-config"

cmake -S examples/minimal_host -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/minimal_host" "$work/server.pem" | tee "$work/example.out"
grep -q '"Subject":"CN=example.test"' "$work/example.out"

if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    # The install is half of what this checks: skipped only when asked.
    if [ "${CM_PACKAGE_CHECK_WITHOUT_INSTALL:-}" = 1 ]; then
      echo "-- not root and no sudo: the dpkg -i check is skipped, as CM_PACKAGE_CHECK_WITHOUT_INSTALL asks"
      exit 0
    fi
    echo "the packages cannot be installed: not root and no sudo (CM_PACKAGE_CHECK_WITHOUT_INSTALL=1 skips that step)" >&2
    exit 1
  fi
  sudo="sudo"
fi
echo "-- dpkg -i"
installed=1
$sudo dpkg -i "${debs[@]}"
clean=(env -i PATH=/usr/bin:/bin HOME="$work/home")
"${clean[@]}" certctl --version
"${clean[@]}" certctl --help >/dev/null
"${clean[@]}" man -w certctl
cd "$work"
"${clean[@]}" certctl --store "$work/store.db" set-server edr server.pem
prints '"Subject":"CN=example.test"' "${clean[@]}" certctl --store "$work/store.db" query-server edr
"${clean[@]}" certctl --store "$work/store.db" check
# root's default store is the system store, whatever HOME says (here: none),
# made owner-only in the folder the package made; the metrics unit reads it.
system_store=$(sed -n 's/^Environment=CERTCTL_STORE=//p' /lib/systemd/system/certctl-metrics.service)
# The renewal unit renews the store the metrics unit reports on.
renew_unit=/lib/systemd/system/certctl-renew.service
[ "$(sed -n 's/^Environment=CERTCTL_STORE=//p' "$renew_unit")" = "$system_store" ] ||
  { echo "$renew_unit renews another store than $system_store"; exit 1; }
grep -q '^Persistent=true' /lib/systemd/system/certctl-renew.timer
checked_default=""
if [ -e "$system_store" ] || [ "$(id -u)" -ne 0 ]; then
  echo "-- not root, or $system_store exists already: the default-store check is skipped"
else
  checked_default=1
  mkdir "$work/empty" && cd "$work/empty"
  env -i PATH=/usr/bin:/bin certctl set-server edr "$work/server.pem"
  [ "$(stat -c %a "$(dirname "$system_store")") $(stat -c %a "$system_store")" = "700 600" ]
  [ -z "$(ls -A)" ] || { echo "certctl wrote into the current folder"; exit 1; }
  prints 'type="edr",kind="server"' env -i PATH=/usr/bin:/bin CERTCTL_STORE="$system_store" certctl metrics
  # The renewal unit's command on that store, with nothing configured:
  # nothing due, exit 1, which the unit counts as success.
  read -r -a renew_command <<<"$(sed -n 's/^ExecStart=//p' "$renew_unit")"
  renew_status=0
  env -i PATH=/usr/bin:/bin CERTCTL_STORE="$system_store" "${renew_command[@]}" || renew_status=$?
  if [ "$renew_status" -ne 1 ] || ! grep -q '^SuccessExitStatus=1' "$renew_unit"; then
    echo "the renewal unit's command exits $renew_status with nothing due"; exit 1
  fi
  rm -f "$system_store"
fi
cd "$root"
echo "-- installed files"
dpkg -L certificates-manager certificates-manager-dev | sort -u | while read -r f; do [ ! -f "$f" ] || echo "$f"; done
$sudo dpkg --purge certificates-manager-dev certificates-manager
installed=""
[ -z "$checked_default" ] || [ ! -e "$(dirname "$system_store")" ] ||
  { echo "the purge left $(dirname "$system_store")"; exit 1; }
! command -v certctl >/dev/null || { echo "certctl is still installed"; exit 1; }
echo "packages: reproducible, lintian-clean, hardened, built against, installed, used and purged"
