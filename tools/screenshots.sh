#!/usr/bin/env bash
# Pictures of every window under Xvfb and openbox, on the demo servers and mail, into
# docs/screenshots/. Usage: tools/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target hollin-screenshots hollin-mailservers hollin-cli >/dev/null
source tools/demo/setup.sh "$build" "$(mktemp -d)/demo"
trap 'kill $demo_servers 2>/dev/null; wait $demo_servers 2>/dev/null || true' EXIT

# Fetch the sample mail with the program's own receive, then draw every window.
"$build/src/cli/hollin-cli" --root "$demo_root" receive --allow-plain
tests/wm/run-with-wm.sh "$build/tools/hollin-screenshots" --root "$demo_root" --out docs/screenshots
