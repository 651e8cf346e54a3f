#!/usr/bin/env bash
# The packages and the installed files, as an integrator meets them:
#  1. builds the Debian packages (build/package, prefix /usr) and runs lintian;
#  2. installs into a staging folder (DESTDIR) and builds examples/minimal_host
#     out of tree against it, with find_package only, then runs it;
#  3. as root: installs the packages with dpkg -i, runs certctl --help, finds
#     its man page and runs a set/query cycle from the installed files alone
#     (a clean environment, no build tree on the path), then removes them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/package
work=$(mktemp -d)
installed=""
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
sudo=""

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack >/dev/null)
debs=("$build"/certificates-manager_*.deb "$build"/certificates-manager-dev_*.deb)
for deb in "${debs[@]}"; do
  echo "-- $(basename "$deb")"
  dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends|Section):'
done
echo "-- lintian"
lintian --fail-on error "${debs[@]}" 2>&1 | sed '/running with root privileges/d'

echo "-- the example host, built against a staged install"
DESTDIR="$work/stage" cmake --install "$build" >/dev/null
# Every installed header compiles on its own.
headers="$work/stage/usr/include/certificates_manager"
(cd "$headers" && find . -name '*.h' | sed 's|^\./||') | while read -r header; do
  echo "#include \"$header\"" | g++ -std=c++17 -fsyntax-only -I"$headers" -x c++ - ||
    { echo "$header does not compile on its own"; exit 1; }
done
cmake -S examples/minimal_host -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$work/stage/usr" >/dev/null
cmake --build "$work/example" >/dev/null
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -out "$work/server.pem" -days 90 -subj "/CN=example.test" 2>/dev/null
# The staged module is the one the example was built against: the package's path, under DESTDIR.
"$work/example/minimal_host" "$work/server.pem" | tee "$work/example.out"
grep -q '"Subject":"CN=example.test"' "$work/example.out"

if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "-- not root and no sudo: the dpkg -i check is skipped"
    exit 0
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
"${clean[@]}" certctl --store "$work/store.db" query-server edr | grep -q '"Subject":"CN=example.test"'
"${clean[@]}" certctl --store "$work/store.db" check
# root's default store is the system store, whatever HOME says (here: none),
# made owner-only in the folder the package made; the metrics unit reads it.
system_store=$(sed -n 's/^Environment=CERTCTL_STORE=//p' /lib/systemd/system/certctl-metrics.service)
checked_default=""
if [ -e "$system_store" ] || [ "$(id -u)" -ne 0 ]; then
  echo "-- not root, or $system_store exists already: the default-store check is skipped"
else
  checked_default=1
  mkdir "$work/empty" && cd "$work/empty"
  env -i PATH=/usr/bin:/bin certctl set-server edr "$work/server.pem"
  [ "$(stat -c %a "$(dirname "$system_store")") $(stat -c %a "$system_store")" = "700 600" ]
  [ -z "$(ls -A)" ] || { echo "certctl wrote into the current folder"; exit 1; }
  env -i PATH=/usr/bin:/bin CERTCTL_STORE="$system_store" certctl metrics | grep -q 'type="edr",kind="server"'
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
echo "packages: built, installed, used and removed"
