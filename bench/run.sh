#!/usr/bin/env bash
# Builds and runs every benchmark (build/bench/bench_*), printing one table.
# Ratios compare Hollin with a reference measured in the same run; goal is the
# highest acceptable ratio. Scratch files go to /var/tmp, or to $HOLLIN_BENCH_DIR
# when set.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${HOLLIN_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target benchmarks >&2

rows=()
status=0
for exe in "$build"/bench/bench_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  echo "running $(basename "$exe") …" >&2
  if ! out=$("$exe"); then
    echo "$(basename "$exe") failed" >&2
    status=1
  fi
  [ -n "$out" ] && rows+=("$out")
done

echo "| what | hollin | reference | ratio | goal |"
echo "|---|---|---|---|---|"
for r in "${rows[@]}"; do
  echo "$r"
done
exit $status
