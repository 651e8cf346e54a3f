#!/usr/bin/env bash
# The main job: installs what is missing, builds, and loads the component
# into the reference host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target host_selfcheck certificates_manager
build/release/tools/host_selfcheck build/release/component/libcertificates_manager.so
