#!/usr/bin/env bash
# Instructions per call and per event, counted under callgrind: unlike wall time, the counts do not
# move with the machine's load (but a locked instruction counts as one, however long it takes).
# Each count is inclusive, from where the work enters: a method's native callback as Node-API
# hands it the call, and for events the JS thread's whole wake-up by a thread-safe function, or
# the floor's loop of listener calls. An event's count is that of the last pass, once the JS engine
# has compiled the listeners' hot code; for raw and package the whole run's, warm-up included, is
# printed beside it, since the package's callbacks take longer to reach their compiled form. Uses
# the Release build of KAVORI_BUILD_DIR (default build-bench, as make bench leaves it). CALLS calls per subject of bench/call_overhead.js (default
# 100000, twice with its warm-up), EVENTS events per pass of the event subjects (default 50000).
# Reports the goals as met or not met; fails only when a run fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KAVORI_BUILD_DIR:-$root/build-bench}"
calls="${CALLS:-100000}"
events="${EVENTS:-50000}"
jobs="${JOBS:-2}"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# run <name> <node arguments...>: node under callgrind, in the background; its output goes to
# $out/<name>.stdout, its annotated inclusive profile to $out/<name>: from the measured pass's start
# (the bench addon's MeasuredPassStarts) when the run marks one, and before it to $out/<name>.warm.
# The JS engine compiles hot code on the JS thread, not in the background: callgrind runs one
# thread at a time, so how many events went by before compiled code took over would depend on its
# scheduling, and so would the warm-up's count.
run() {
    local name="$1"
    shift
    # At most jobs runs at once.
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    (
        KAVORI_BUILD_DIR="$build" valgrind --tool=callgrind --callgrind-out-file="$out/$name.cg" \
            --dump-before='*MeasuredPassStarts*' node --no-concurrent-recompilation "$@" \
            >"$out/$name.stdout" 2>"$out/$name.log" ||
            { echo "$name failed:" >&2; tail -20 "$out/$name.log" >&2; exit 1; }
        callgrind_annotate --inclusive=yes --threshold=100 "$out/$name.cg" >"$out/$name"
        if [ -f "$out/$name.cg.1" ]; then
            callgrind_annotate --inclusive=yes --threshold=100 "$out/$name.cg.1" >"$out/$name.warm"
        fi
    ) &
}

# One round after the warm-up: each subject is called 2 x calls times.
KAVORI_BENCH_CALLS="$calls" KAVORI_BENCH_ROUNDS=1 run calls "$root/bench/call_overhead.js"
for subject in floor bridge raw routed package; do
    run "$subject" "$root/bench/callgrind/events.js" "$subject" "$events"
done
for pid in $(jobs -p); do wait "$pid"; done

count() {  # count <profile> <pattern> <divisor>: inclusive instructions per unit of what matches
    local ir
    ir="$(grep -E "$2" "$out/$1" | awk '{ gsub(",", "", $1); s += $1 } END { print s + 0 }')"
    [ "$ir" -gt 0 ] || { echo "$1: no function matches $2" >&2; exit 1; }
    echo $((ir / $3))
}
# whole <run> <pattern>: per event over the whole run, warm-up included.
whole() { echo $((($(count "$1" "$2" 1) + $(count "$1.warm" "$2" 1)) / $(run_events "$1"))); }
floor=$(count calls '\)::Floor\(' $((2 * calls)))
position=$(count calls '\)::Position\(' $((2 * calls)))
positionRef=$(count calls '\)::PositionRef\(' $((2 * calls)))
# The module and its copy in the floor addon are one code; callgrind counts them as one function.
module=$(count calls ':KavoriCloudPlayerNapi::getCurrentPosition\(' $((4 * calls)))
# The JS thread's wake-ups by the bridge's thread-safe function.
wakeUps='ThreadSafeFunction::AsyncCb\(uv_async_s\*\) \['
# run_events <run>, delivered <run>: the events of the whole run, and of its last pass.
run_events() { read -r total _ <"$out/$1.stdout" && echo "$total"; }
delivered() { read -r _ measured <"$out/$1.stdout" && echo "$measured"; }
eventFloor=$(count floor '\)::Floor\(' "$(delivered floor)")
bridge=$(count bridge "$wakeUps" "$(delivered bridge)")
raw=$(count raw "$wakeUps" "$(delivered raw)")
routed=$(count routed "$wakeUps" "$(delivered routed)")
package=$(count package "$wakeUps" "$(delivered package)")
rawWhole=$(whole raw "$wakeUps")
packageWhole=$(whole package "$wakeUps")

ratio() { node -e "console.log((${1} / ${2}).toFixed(2))"; }
goal() {  # goal <text> <value> <over> <at most>
    local r verdict
    r=$(ratio "$2" "$3")
    verdict=$(node -e "console.log(${r} <= ${4} ? 'met    ' : 'not met')")
    echo "$verdict $1 <= $4 x: $r ($2 / $3)"
}
echo "instructions under callgrind, inclusive, per call or event:"
echo "  a call: floor $floor, with the engine query $position, with the query and a reference" \
    "(the fair floor) $positionRef, _getCurrentPosition $module"
echo "  an event on the JS thread: direct-call floor (one call, one scope) $eventFloor," \
    "raw bridge $bridge; engine road ($events per pass): raw listener $raw, routed" \
    "$routed, package $package"
goal "_getCurrentPosition over the fair floor" "$module" "$positionRef" 1.15
goal "raw bridge over the direct-call floor" "$bridge" "$eventFloor" 1.05
goal "package over the raw listener" "$package" "$raw" 1.15
echo "        (routed over raw: $(ratio "$routed" "$raw"); raw and package in absolute terms:" \
    "$raw and $package instructions per event)"
echo "  the whole run, warm-up included ($(run_events package) events): raw $rawWhole, package" \
    "$packageWhole, package over raw $(ratio "$packageWhole" "$rawWhole")"
