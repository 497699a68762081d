#!/usr/bin/env bash
# Builds the module and the event bench's addon from a scratch copy of the tree with each patch
# here applied, and fails unless the test that guards against it fails (the tests each patch must
# trip are listed below, by patch name). `make js-mutants MUTANTS="a b"` runs only those.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
declare -A guard=(
    [keeps_flood_buffers]="test/js/events_delivery.test.js:buffers go back"
    [refusal_thrown]="har/test/states.test.js:every method in every state"
    [seek_mode_takes_any_number]="har/test/package.test.js:seek takes a SeekMode"
    [id_match_ignores_end]="test/js/module.test.js:id-only methods reach"
    [id_match_short_mask]="test/js/module.test.js:id-only methods reach"
    [serial_read_not_made]="test/js/events_delivery.test.js:posts before its creator"
    [muted_listener_queues]="test/js/events_delivery.test.js:while the listener is null"
    [route_kept_after_loop]="test/js/events_routing.test.js:goes once the player ends"
    [route_needs_listener]="test/js/events_routing.test.js:set before the listener"
    [route_dropped_at_release]="test/js/events_routing.test.js:released mid-flood"
    [ended_environment_routes_kept]="test/js/events_routing.test.js:ended environment"
    [routed_to_every_environment]="test/js/events_routing.test.js:routes nothing"
    [route_not_moved]="test/js/events_routing.test.js:moved by a worker"
    [routed_copy_takes_text]="test/js/events_routing.test.js:text events of a routed player"
    [repeated_number_not_compared]="test/js/events_delivery.test.js:one batch of many kinds"
    [event_slots_swapped]="har/test/player.test.js:every event kind and notice reaches"
)
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
# One copy, built once; each patch is applied, rebuilt (only what it touches) and taken back out.
work="$scratch/tree"
mkdir -p "$work"
(cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$work")
ln -s "$root/node_modules" "$work/node_modules"
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build() {
    cmake --build "$work/build" -j"${JOBS:-2}" --target kavoriplayer_audio_napi kavori_bench_events kavori_test_host \
        >/dev/null
}
build
# Names given as arguments run only those patches.
for patch in "$root"/test/js/mutants/*.patch; do
    name="$(basename "$patch" .patch)"
    if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
    if [ -z "${guard[$name]:-}" ]; then
        echo "js-mutants: $name has no guard row"
        status=1
        continue
    fi
    (cd "$work" && git apply "$patch")
    build
    file="${guard[$name]%%:*}"
    pattern="${guard[$name]#*:}"
    if (cd "$work" && KAVORI_BUILD_DIR=build node --test --test-name-pattern="$pattern" "$file" \
        >"$work/log" 2>&1); then
        echo "js-mutants: $name NOT caught by '$pattern'"
        status=1
    else
        # The failure's first lines, joined (a multi-line message starts with "|-").
        echo "js-mutants: $name caught: $(grep -m1 -A2 -E "error: " "$work/log" | tr -s ' \n' ' ')"
    fi
    (cd "$work" && git apply -R "$patch")
done
exit $status
