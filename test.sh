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
# A fuzzing pass that does the same work each time: the corpus and every kept
# input, then a fixed number of mutations from a fixed seed. Open-ended
# fuzzing is tools/fuzz.sh without --fixed.
./tools/fuzz.sh --fixed
# The Debian package, built without tests, checked by lintian and appstreamcli.
./tools/package.sh
