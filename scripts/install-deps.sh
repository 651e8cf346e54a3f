#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need.
# Does nothing when all are present; needs root (or sudo) otherwise.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libssl-dev openssl libboost-dev libsqlite3-dev nlohmann-json3-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang lld libclang-rt-14-dev valgrind binutils
  prometheus  # for promtool, which judges certctl's metrics; its server is not started
  lintian man-db checksec python3  # the package check (python3: the fuzz seeds, checksec's verdicts)
  faketime  # OCSP answers made in the past, for the revocation tests
)
# Installed without their recommendations: check_ssl_cert, which the
# revocation tests and benchmarks compare certctl probe with, and the tools
# it runs (its package recommends the dependencies of dozens of other plugins).
lean_packages=(monitoring-plugins-contrib bind9-host bc curl file)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=() lean_missing=()
for package in "${packages[@]}"; do installed "$package" || missing+=("$package"); done
for package in "${lean_packages[@]}"; do installed "$package" || lean_missing+=("$package"); done
[ ${#missing[@]} -eq 0 ] && [ ${#lean_missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]} ${lean_missing[*]}"
$sudo apt-get update -qq
# A policy-rc.d that refuses keeps the packages' services (the Prometheus
# server) from starting: only their tools are needed.
policy=/usr/sbin/policy-rc.d
added_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod 755 "$policy" && added_policy=1
fi
status=0
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null || status=$?
fi
if [ $status -eq 0 ] && [ ${#lean_missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${lean_missing[@]}" \
    >/dev/null || status=$?
fi
[ -n "$added_policy" ] && $sudo rm -f "$policy"
exit $status
