#!/usr/bin/env bash
# Builds the libFuzzer target (clang, AddressSanitizer) in its own build
# directory and runs it for a bounded time on the test mails. Fails on a crash,
# a leak, a timeout or a file written outside the attachment folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${HOLLIN_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${HOLLIN_FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DHOLLIN_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address" >/dev/null
cmake --build "$build" --target fuzz_decode -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/seeds" "$work/found"
cp tests/data/corpus/messages/*.eml tests/data/mail/*.eml "$work/seeds/"

echo "fuzzing decode and extraction for ${seconds} s"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  "$build/tests/fuzz/fuzz_decode" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/found/" \
  "$work/seeds" 2>"$work/log" || {
    status=$?
    tail -n 60 "$work/log" >&2
    mkdir -p "$build/fuzz-artifacts"
    cp "$work"/found/* "$build/fuzz-artifacts/" 2>/dev/null || true
    echo "fuzz_decode failed (status $status); inputs kept in $build/fuzz-artifacts" >&2
    exit "$status"
  }
grep -E "^stat::number_of_executed_units|^Done" "$work/log" || true
