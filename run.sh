#!/usr/bin/env bash
# Installs what is missing, builds, and opens Hollin on the user's data root.
#   ./run.sh            your own data root (--root DIR, $HOLLIN_ROOT or ~/.local/share/hollin)
#   ./run.sh --demo     local mail servers with sample Japanese mail, and Hollin on them
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
build=${HOLLIN_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
if [ "${1:-}" = "--demo" ]; then
  shift
  exec ./tools/demo.sh "$build" "$@"
fi
if [ -x "$build/src/app/hollin" ]; then
  exec "$build/src/app/hollin" "$@"
fi
exec "$build/src/cli/hollin-cli" "$@" count
