#!/usr/bin/env bash
# make bench: every bench/*.js in turn on the Release build of KAVORI_BUILD_DIR (default
# build-bench), each leaving its figures in KAVORI_BENCH_OUT (default KAVORI_BUILD_DIR/bench-results)
# as <bench>.json, then the goals table from that folder, which shows make bench-count's figures
# too when that target left them there. Fails only when a bench fails; with
# KAVORI_BENCH_KEEP_GOING=1 (bench/before_after.sh's older tree) goes on, and the goals of a failed
# bench read not measured.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export KAVORI_BUILD_DIR="${KAVORI_BUILD_DIR:-$root/build-bench}"
export KAVORI_BENCH_OUT="${KAVORI_BENCH_OUT:-$KAVORI_BUILD_DIR/bench-results}"
mkdir -p "$KAVORI_BENCH_OUT"
for b in "$root"/bench/*.js; do
    rm -f "$KAVORI_BENCH_OUT/$(basename "$b" .js).json"
done
failed=""
for b in "$root"/bench/*.js; do
    node "$b" || failed="$failed $(basename "$b")"
done
node "$root/bench/lib/goals.js" "$KAVORI_BENCH_OUT"
if [ -n "$failed" ]; then
    echo "failed:$failed" >&2
    [ "${KAVORI_BENCH_KEEP_GOING:-}" = 1 ] || exit 1
fi
