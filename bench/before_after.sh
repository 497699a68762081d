#!/usr/bin/env bash
# The goals table before and after: `bench/before_after.sh BASE` checks out commit BASE in a
# scratch worktree (BENCH_BASE_TREE, default build-compare/base, removed at the end), puts this
# tree's bench/ in place of its own, so that both sides run the same benches and floors on their own
# module and package, and builds it as build-bench is built. Then make bench-count's runs, base
# then this tree, and make bench's, the same, all on one machine state; last the goals table with
# both sides' figures line by line. This tree's build-bench must be built (make bench-compare
# builds it). Figures stay in build-bench/bench-compare/{before,after}. A subject the base cannot
# run (it lacks what the subject calls) fails alone there: its rows read not measured.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
base="${1:?usage: bench/before_after.sh BASE-COMMIT}"
tree="${BENCH_BASE_TREE:-$root/build-compare/base}"
[ ! -e "$tree" ] || { echo "$tree exists already; remove it or set BENCH_BASE_TREE" >&2; exit 1; }
results="$root/build-bench/bench-compare"
jobs="${JOBS:-2}"
trap 'git -C "$root" worktree remove --force "$tree"' EXIT
git -C "$root" worktree add --detach "$tree" "$base" >/dev/null
rm -rf "$tree/bench"
cp -a "$root/bench" "$tree/bench"
ln -s "$root/node_modules" "$tree/node_modules"
cmake -S "$tree" -B "$tree/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
# What the benches load; the base's tests are not needed.
cmake --build "$tree/build-bench" -j"$jobs" --target kavoriplayer_audio_napi kavori_bench_events \
    kavori_bench_floor >/dev/null

rm -rf "$results"
mkdir -p "$results/before" "$results/after"
# side <before|after> <script>: one target's script on one side.
side() {
    local dir="$tree" keepGoing=1
    [ "$1" = after ] && dir="$root" && keepGoing=
    local start=$SECONDS
    echo "== $1 ($dir): bench/$2"
    KAVORI_BUILD_DIR="$dir/build-bench" KAVORI_BENCH_OUT="$results/$1" JOBS="$jobs" \
        KAVORI_BENCH_KEEP_GOING="$keepGoing" bash "$dir/bench/$2"
    echo "== $1: bench/$2 took $((SECONDS - start)) s"
}
side before callgrind_counts.sh
side after callgrind_counts.sh
side before run.sh
side after run.sh
node "$root/bench/lib/goals.js" "$results/before" "$results/after"
