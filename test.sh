#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Non-zero exit on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
build=${HOLLIN_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
cd ..
if [ -x tools/fuzz.sh ]; then
  ./tools/fuzz.sh
fi
# The Debian package, built without tests, checked by lintian and appstreamcli.
./tools/package.sh
