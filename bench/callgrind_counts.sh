#!/usr/bin/env bash
# Instructions per call and per event, counted under callgrind: unlike wall time, the counts do not
# move with the machine's load (but a locked instruction counts as one, however long it takes).
# Each count is inclusive, from where the work enters: a method's native callback as Node-API
# hands it the call, for events the JS thread's whole wake-up by a thread-safe function, or the
# floor's loop of listener calls, for the producer the engine message thread's loop. Every event
# subject, floors too, runs the same passes (bench/callgrind/events.js), and its count is that of
# the last one, once the JS engine has compiled the hot code: a floor warmed less than its subject
# would count that compile. For raw and package the whole run's, warm-up included, is printed
# beside it, since the package's callbacks take longer to reach their compiled form. A player's
# life is counted on every thread: the JS thread's instructions between the marks around the
# counted lives, per life, and every other thread's over the whole run, per life run (they start
# with the lives: nothing of the process's start or end is theirs). Uses the Release
# build of KAVORI_BUILD_DIR (default build-bench, as make bench leaves it). CALLS calls per subject
# of bench/call_overhead.js (default 100000, twice with its warm-up), EVENTS events per pass of the
# event subjects (default 50000), ISOLATED events of the isolated subjects (default 2000, one
# wake-up each). Threads are counted apart: the JS thread's counts come from its own profile, the
# producers' from the others'. Leaves its figures in KAVORI_BENCH_OUT (default
# KAVORI_BUILD_DIR/bench-results) as counts.json and prints the goals table (bench/lib/goals.js)
# from that folder; fails only when a run fails. A run that fails leaves its figures null (the
# goals table shows them as not measured), and with KAVORI_BENCH_KEEP_GOING=1 fails nothing, as
# bench/before_after.sh runs an older tree that may lack what a subject needs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KAVORI_BUILD_DIR:-$root/build-bench}"
calls="${CALLS:-100000}"
events="${EVENTS:-50000}"
isolated="${ISOLATED:-2000}"
jobs="${JOBS:-2}"
results="${KAVORI_BENCH_OUT:-$build/bench-results}"
mkdir -p "$results"
rm -f "$results/counts.json"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# run <name> <node arguments...>: node under callgrind, in the background; its output goes to
# $out/<name>.stdout, the JS thread's annotated inclusive profile to $out/<name> and the other
# threads' over the whole run to $out/<name>.others (a mark's dump holds only the thread that
# enters it, so the others' counts cover every pass, and are divided by every pass's work); the JS
# thread's from the measured pass's start (the bench addon's
# MeasuredPassStarts) when the run marks one, and the JS thread's before it to $out/<name>.warm;
# every other thread's total instructions over the whole run to $out/<name>.othersTotal; when the
# run marks its pass's end too (MeasuredPassEnds), the JS thread's profile within the pass to
# $out/<name>.pass and its total to $out/<name>.passTotal.
# The JS engine compiles hot code on the JS thread, not in the background: callgrind runs one
# thread at a time, so how many events went by before compiled code took over would depend on its
# scheduling, and so would the warm-up's count.
run() {
    local name="$1"
    shift
    # At most jobs runs at once.
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    (
        KAVORI_BUILD_DIR="$build" valgrind --tool=callgrind --callgrind-out-file="$out/$name.cg" \
            --separate-threads=yes --dump-before='*MeasuredPass*' --max-threads=4000 \
            node --no-concurrent-recompilation "$@" >"$out/$name.stdout" 2>"$out/$name.log" ||
            { echo "$name failed:" >&2; tail -20 "$out/$name.log" >&2; : >"$out/$name.failed";
              exit 1; }
        annotate() { callgrind_annotate --inclusive=yes --threshold=100 "$1"; }
        annotate "$out/$name.cg-01" >"$out/$name"
        : >"$out/$name.others"
        for f in "$out/$name".cg-* "$out/$name".cg.*-*; do
            case "$f" in *-01 | *'*'*) ;; *) annotate "$f" >>"$out/$name.others" ;; esac
        done
        if [ -f "$out/$name.cg.1-01" ]; then annotate "$out/$name.cg.1-01" >"$out/$name.warm"; fi
        if [ -f "$out/$name.cg.2-01" ]; then
            annotate "$out/$name.cg.2-01" >"$out/$name.pass"
            awk '/^totals:/ { print $2 }' "$out/$name.cg.2-01" >"$out/$name.passTotal"
        fi
        for f in "$out/$name".cg-* "$out/$name".cg.*-*; do
            case "$f" in *-01 | *'*'*) ;; *) cat "$f" ;; esac
        done | awk '/^totals:/ { s += $2 } END { print s + 0 }' >"$out/$name.othersTotal"
    ) &
}

# One round after the warm-up: each subject is called 2 x calls times.
KAVORI_BENCH_CALLS="$calls" KAVORI_BENCH_ROUNDS=1 run calls "$root/bench/call_overhead.js"
for subject in floor groupfloor bridge raw routed package; do
    run "$subject" "$root/bench/callgrind/events.js" "$subject" "$events"
done
# The package with 1 to 1,000 players in one environment, all posting at once.
for players in 1 10 100 1000; do
    run "scale-$players" "$root/bench/callgrind/events.js" "scale-$players" "$events"
done
for subject in isolated-bridge isolated-bare; do
    run "$subject" "$root/bench/callgrind/events.js" "$subject" "$isolated"
done
for side in floor raw package; do
    run "life-$side" "$root/bench/life.js" "$side" marked
done
for pid in $(jobs -p); do wait "$pid" || true; done

# A figure a failed run could not give is null, and so is any sum it takes part in.
# calc <expression>: integer arithmetic, null when the expression holds a null.
calc() { case "$1" in *null*) echo null ;; *) echo $(($1)) ;; esac; }
count() {  # count <profile> <pattern> <divisor>: inclusive instructions per unit of what matches
    local ir
    [ -f "$out/$1" ] || { echo null; return; }
    ir="$(grep -E "$2" "$out/$1" | awk '{ gsub(",", "", $1); s += $1 } END { print s + 0 }')"
    if [ "$ir" -eq 0 ]; then
        echo "$1: no function matches $2" >&2
        : >"$out/$1.failed"
        echo null
        return
    fi
    calc "$ir / $3"
}
# whole <run> <pattern>: per event over the whole run, warm-up included.
whole() { calc "($(count "$1" "$2" 1) + $(count "$1.warm" "$2" 1)) / $(run_events "$1")"; }
floor=$(count calls '\)::Floor\(' $((2 * calls)))
position=$(count calls '\)::Position\(' $((2 * calls)))
positionRef=$(count calls '\)::PositionRef\(' $((2 * calls)))
# The module and its copy in the floor addon are one code; callgrind counts them as one function.
module=$(count calls ':KavoriCloudPlayerNapi::getCurrentPosition\(' $((4 * calls)))
# The JS thread's wake-ups by the bridge's thread-safe function.
wakeUps='ThreadSafeFunction::AsyncCb\(uv_async_s\*\) \['
# run_events <run>, delivered <run>, passes <run>: the events of the whole run, of its last pass,
# and its passes.
field() {  # field <run> <n>: the nth number the run printed, null when it printed none
    local v
    v=$(awk -v n="$2" 'NR == 1 { print $n }' "$out/$1.stdout" 2>/dev/null)
    echo "${v:-null}"
}
run_events() { field "$1" 1; }
delivered() { field "$1" 2; }
passes() { field "$1" 3; }
eventFloor=$(count floor '\)::Floor\(' "$(delivered floor)")
groupFloor=$(count groupfloor '\)::GroupFloor\(' "$(delivered groupfloor)")
bridge=$(count bridge "$wakeUps" "$(delivered bridge)")
# The bridge's producer threads, every pass: what post_event costs each event before the wake-up.
bridgePost=$(count bridge.others ':post_event\(' "$(run_events bridge)")
raw=$(count raw "$wakeUps" "$(delivered raw)")
routed=$(count routed "$wakeUps" "$(delivered routed)")
package=$(count package "$wakeUps" "$(delivered package)")
# scale <players>: the package per event with that many players: the module's delivery of slices
# of events to JS in the pass with events, less that of the same players' lives without events
# (their PREPARED events), per event. Not the whole wake-up: the promise continuations of a
# thousand lives run inside it or after it as the threads happen to be scheduled.
slices='::DeliverNextSlice\('
scale() {
    local with without
    with=$(count "scale-$1.pass" "$slices" 1)
    without=$(count "scale-$1" "$slices" 1)
    calc "($with - $without) / $(delivered "scale-$1")"
}
scale1=$(scale 1)
scale10=$(scale 10)
scale100=$(scale 100)
scale1000=$(scale 1000)
rawWhole=$(whole raw "$wakeUps")
packageWhole=$(whole package "$wakeUps")
# An isolated event wakes the JS thread through libuv's async handle: the whole wake-up is counted
# from where libuv takes it, the producer's part from the call that posts it.
isolatedWakeUp='uv__async_io'
isolatedBridge=$(count isolated-bridge "$isolatedWakeUp" "$(delivered isolated-bridge)")
isolatedBare=$(count isolated-bare "$isolatedWakeUp" "$(delivered isolated-bare)")
isolatedBridgePost=$(count isolated-bridge.others ':post_event\(' "$(run_events isolated-bridge)")
isolatedBarePost=$(count isolated-bare.others ':napi_call_threadsafe_function ' \
    "$(run_events isolated-bare)")
# The engine road's message threads: the loop the module runs there, and within it the engine's
# own taking of each message, over every pass; each pass's script posts one PREPARED message
# before its counted ones.
messages=$(calc "$(run_events raw) + $(passes raw)")
producerEngine=$(count raw.others ':kvmp_get_msg ' "$messages")
producerModule=$(calc "$(count raw.others ':message_loop\(void\*\)' "$messages") - $producerEngine")

# A player's life, every thread: the JS thread's per counted life, the others' per life run.
life() {
    local js=null others=null
    if [ ! -f "$out/life-$1.failed" ]; then
        js=$(cat "$out/life-$1.passTotal")
        others=$(cat "$out/life-$1.othersTotal")
    fi
    calc "$js / $(delivered "life-$1") + $others / $(run_events "life-$1")"
}
lifeFloor=$(life floor)
lifeRaw=$(life raw)
lifePackage=$(life package)

ratio() { node -e "console.log((${1} / ${2}).toFixed(2))"; }  # NaN for a null
echo "instructions under callgrind, inclusive, per call or event:"
echo "  a call: floor $floor, with the engine query $position, with the query and a reference" \
    "(the fair floor) $positionRef, _getCurrentPosition $module"
echo "  an event on the JS thread: group floor (one native call per 64, a JS loop) $groupFloor," \
    "direct-call floor (one call, one scope) $eventFloor, raw bridge $bridge (and $bridgePost" \
    "on its producer); engine road" \
    "($events per pass): raw listener $raw, routed $routed, package $package"
echo "  the package per event with 1 / 10 / 100 / 1,000 players posting at once: $scale1 /" \
    "$scale10 / $scale100 / $scale1000 ($(ratio "$scale1000" "$scale1") x at 1,000)"
echo "  the whole run, warm-up included ($(run_events package) events): raw $rawWhole, package" \
    "$packageWhole, package over raw $(ratio "$packageWhole" "$rawWhole")"
echo "  an isolated event (one per wake-up, $isolated): JS thread: bridge $isolatedBridge, bare" \
    "thread-safe function $isolatedBare ($(ratio "$isolatedBridge" "$isolatedBare") x);" \
    "producer: bridge $isolatedBridgePost, bare $isolatedBarePost" \
    "($(ratio "$isolatedBridgePost" "$isolatedBarePost") x)"
echo "  the engine road's producer thread per message: the module's part $producerModule, the" \
    "engine's own $producerEngine"
echo "  a player's life, all threads ($(delivered life-raw) lives counted): engine alone" \
    "$lifeFloor, raw module $lifeRaw, package $lifePackage"
cat >"$results/counts.json" <<EOF
{"position": $module, "positionRef": $positionRef, "eventFloor": $eventFloor,
 "groupFloor": $groupFloor, "bridge": $bridge, "bridgePost": $bridgePost, "raw": $raw,
 "routed": $routed,
 "package": $package, "scale1": $scale1, "scale10": $scale10, "scale100": $scale100,
 "scale1000": $scale1000, "rawWhole": $rawWhole, "packageWhole": $packageWhole,
 "isolatedBridge": $isolatedBridge, "isolatedBare": $isolatedBare,
 "isolatedBridgePost": $isolatedBridgePost, "isolatedBarePost": $isolatedBarePost,
 "producerModule": $producerModule, "producerEngine": $producerEngine,
 "lifeFloor": $lifeFloor, "lifeRaw": $lifeRaw, "lifePackage": $lifePackage}
EOF
node "$root/bench/lib/goals.js" "$results"
failed="$(cd "$out" && find . -maxdepth 1 -name '*.failed' -printf '%f ' | sed 's/\.failed//g')"
if [ -n "$failed" ]; then
    echo "not measured, a run or a function missing: $failed" >&2
    [ "${KAVORI_BENCH_KEEP_GOING:-}" = 1 ] || exit 1
fi
