#!/usr/bin/env bash
# Builds the module, the engine, the event bench's addon and the test host from a scratch copy of
# the tree with each patch here applied, and fails unless the test that guards against it fails
# (the tests each patch must trip are listed below, by patch name). A patch that changes only the
# ArkTS package runs against the tree's own build (make js-mutants builds it first).
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
declare -A guard=(
    [keeps_flood_buffers]="test/js/events_delivery.test.js:buffers go back"
    [refusal_thrown]="har/test/states.test.js:every method in every state"
    [seek_mode_takes_any_number]="har/test/package.test.js:seek takes a SeekMode"
    [error_code_is_engine_number]="har/test/errors.test.js:real files that fail"
    [part_plays_whole_file]="har/test/fd_part.test.js:a clip inside a package file"
    [speed_not_read_back]="har/test/speed.test.js:a speed the engine refuses"
    [engine_reports_rate_unplayed]="har/test/speed.test.js:the engine plays at the speed set"
    [meta_on_first_track]="har/test/tracks.test.js:two audio tracks"
)
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
for patch in "$root"/test/js/mutants/*.patch; do
    name="$(basename "$patch" .patch)"
    work="$scratch/$name"
    mkdir -p "$work"
    (cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$work")
    ln -s "$root/node_modules" "$work/node_modules"
    (cd "$work" && git apply "$patch")
    if grep -q '^+++ b/har/' "$patch" && ! grep -q '^+++ b/[^h]' "$patch"; then
        ln -s "$root/build" "$work/build"
    else
        cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build "$work/build" -j"${JOBS:-2}" --target kavoriplayer_audio_napi \
            kavori_bench_events kavori_test_host >/dev/null
    fi
    file="${guard[$name]%%:*}"
    pattern="${guard[$name]#*:}"
    if (cd "$work" && KAVORI_BUILD_DIR=build node --test --test-name-pattern="$pattern" "$file" \
        >"$work/log" 2>&1); then
        echo "js-mutants: $name NOT caught by '$pattern'"
        status=1
    else
        echo "js-mutants: $name caught: $(grep -m1 -E "error: " "$work/log" | sed 's/^ *//')"
    fi
done
exit $status
