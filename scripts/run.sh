#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and certctl,
# generates sample certificates and runs a short session of the tool on a
# fresh store: set certificates for all four types, list them, query one as
# JSON, replace one, remove one, show the events.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target certctl certificates_manager
scripts/make-sample-certs.sh build/samples

certctl=$PWD/build/release/tools/certctl
export CERTCTL_STORE=$PWD/build/demo/certificates.db
rm -rf build/demo && mkdir -p build/demo
cd build/samples

run() {
  echo
  echo "\$ certctl $*"
  "$certctl" "$@" || echo "(exit status $?)"
}

for type in edr sandbox ndr siem; do
  server=$type-server.pem
  [ -f $type-server.der ] && server=$type-server.der
  run set-server $type $server
  run set-client $type $type-client.p12 --password-file client-password
done
run list
run query-server edr
run set-server edr edr-server-2.pem
run set-server edr edr-server-2.pem
run remove-client siem
run policy lock ndr server
run set-server ndr sandbox-server.pem
run list --json
run events
echo
echo "store: $CERTCTL_STORE"
