#!/usr/bin/env bash
# Builds the libFuzzer target (clang, AddressSanitizer) in its own build
# directory and runs it on the test mails and every input fuzzing has found
# before (tests/data/fuzz-found). Fails on a crash, a leak, a timeout or a
# file written outside the attachment folder.
#
#   tools/fuzz.sh            open-ended: HOLLIN_FUZZ_SECONDS (default 1800 s)
#   tools/fuzz.sh --fixed    the pass ./test.sh runs: a fixed seed and number
#                            of runs (HOLLIN_FUZZ_RUNS, default 20000), so
#                            that two runs on the same tree do the same work
#
# A failing input is copied into tests/data/fuzz-found: rename it after what
# it caught, fix the fault and commit it, so that every later run (and ctest,
# through fuzz_decode_kept_inputs) replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${HOLLIN_FUZZ_BUILD_DIR:-build-fuzz}
found=tests/data/fuzz-found
limit=(-max_total_time="${HOLLIN_FUZZ_SECONDS:-1800}")
what="for ${HOLLIN_FUZZ_SECONDS:-1800} s"
if [ "${1:-}" = --fixed ]; then
  limit=(-seed=1 -runs="${HOLLIN_FUZZ_RUNS:-20000}")
  what="with seed 1, ${HOLLIN_FUZZ_RUNS:-20000} runs"
elif [ $# -gt 0 ]; then
  echo "usage: tools/fuzz.sh [--fixed]" >&2
  exit 2
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DHOLLIN_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address" >/dev/null
cmake --build "$build" --target fuzz_decode -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/seeds" "$work/artifacts"
# libFuzzer adds what it learns to its first folder: a copy, never the tree.
cp tests/data/corpus/messages/*.eml tests/data/mail/*.eml "$work/seeds/"
cp "$found"/* "$work/seeds/" 2>/dev/null || true

echo "fuzzing decode and extraction $what"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  "$build/tests/fuzz/fuzz_decode" "${limit[@]}" -max_len=65536 -timeout=20 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
  "$work/seeds" 2>"$work/log" || {
    status=$?
    tail -n 60 "$work/log" >&2
    mkdir -p "$found"
    for input in "$work"/artifacts/*; do
      [ -e "$input" ] || continue
      cp "$input" "$found/"
      echo "kept input: $found/$(basename "$input")" >&2
    done
    echo "fuzz_decode failed (status $status); name the kept input after what it caught and commit it" >&2
    exit "$status"
  }
grep -E "^stat::number_of_executed_units|^Done" "$work/log" || true
