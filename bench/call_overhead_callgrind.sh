#!/usr/bin/env bash
# The call-overhead bench under callgrind: instructions per call of each subject's native callback,
# counted inclusively from the moment Node-API hands it the call. Unlike wall time, the counts do
# not move with the machine's load (but a locked instruction counts as one, however long it
# takes). Uses the Release build of KAVORI_BUILD_DIR (default
# build-bench, as make bench leaves it); CALLS calls per subject and round (default 100000).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KAVORI_BUILD_DIR:-$root/build-bench}"
calls="${CALLS:-100000}"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
# One round after the warm-up: each subject is called 2 x calls times.
KAVORI_BUILD_DIR="$build" KAVORI_BENCH_CALLS="$calls" KAVORI_BENCH_ROUNDS=1 \
    valgrind --tool=callgrind --callgrind-out-file="$out/cg" node "$root/bench/call_overhead.js" \
    >/dev/null 2>"$out/log" || { tail -20 "$out/log"; exit 1; }
callgrind_annotate --inclusive=yes --threshold=100 "$out/cg" >"$out/annotated"
count() {  # count <pattern> <calls>: inclusive instructions per call of the functions matching it
    local ir
    ir="$(grep -E "$1" "$out/annotated" | awk '{ gsub(",", "", $1); s += $1 } END { print s + 0 }')"
    [ "$ir" -gt 0 ] || { echo "no function matches $1" >&2; exit 1; }
    echo $((ir / $2))
}
# Each subject is called calls times in the warm-up and again in the one round.
floor=$(count '\)::Floor\(' $((2 * calls)))
position=$(count '\)::Position\(' $((2 * calls)))
positionRef=$(count '\)::PositionRef\(' $((2 * calls)))
# The module and its copy in the floor addon are one code; callgrind counts them as one function.
module=$(count ':KavoriCloudPlayerNapi::getCurrentPosition\(' $((4 * calls)))
ratio() { node -e "console.log((${1} / ${2}).toFixed(2))"; }
echo "call_overhead under callgrind, instructions per call of the native callback (inclusive):"
echo "  floor $floor, with the engine query $position, with the query and a reference $positionRef,"
echo "  _getCurrentPosition $module: $(ratio "$module" "$floor") x the floor," \
    "$(ratio "$module" "$position") x with the query, $(ratio "$module" "$positionRef") x with the" \
    "query and a reference"
