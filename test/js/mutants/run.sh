#!/usr/bin/env bash
# Builds the module, the engine, the bench addons, the test host and the proxy tests from a
# scratch copy of the tree with each patch here applied, and fails unless the test that guards
# against it fails (the tests each patch must trip are listed below, by patch name).
# `make js-mutants MUTANTS="a b"` runs only those.
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
    [owned_route_shared]="test/js/events_routing.test.js:owned route stays with its environment"
    [owner_end_keeps_players]="test/js/events_routing.test.js:worker terminated mid-playback"
    [error_keeps_environment_alive]="test/js/events_routing.test.js:engine failed no longer keeps"
    [owned_player_no_keep_alive]="test/js/events_routing.test.js:stays alive while its owned player"
    [route_events_makes_instance]="test/js/events_routing.test.js:no instance makes none"
    [package_routes_unowned]="har/test/routing.test.js:a worker that ends takes its players along"
    [reader_gives_up_when_slots_full]="kavori_proxy_tests:RegistryReaders.ReaderWaitsForAFreeSlot"
    [error_code_is_engine_number]="har/test/errors.test.js:real files that fail"
    [part_plays_whole_file]="har/test/fd_part.test.js:a clip inside a package file"
    [speed_not_read_back]="har/test/speed.test.js:a speed the engine refuses"
    [engine_reports_rate_unplayed]="har/test/speed.test.js:the engine plays at the speed set"
    [meta_on_first_track]="har/test/tracks.test.js:two audio tracks"
    [repeated_number_not_compared]="test/js/events_delivery.test.js:as on the device"
    [event_slots_swapped]="har/test/player.test.js:every event kind and notice reaches"
    [text_slot_ignored]="test/js/events_delivery.test.js:routed arguments"
    [child_keeps_colour]="test/js/node_child.test.js:plain numbers"
    [hung_child_outlives_file]="test/js/node_child.test.js:hangs on a child"
    [module_unpinned]="test/js/worker_only.test.js:outlives them"
    [error_hold_needs_listener]="test/js/events_routing.test.js:engine failed no longer keeps"
    [hold_for_non_owner]="test/js/events_routing.test.js:does not own it holds neither"
    [flood_buffers_kept_while_trickling]="test/js/events_delivery.test.js:trickle follows"
    [owner_end_not_one_step]="test/js/events_routing.test.js:owner's end is one step"
    [fd_fields_read_twice]="har/test/streams.test.js:a getter cannot swap in a path"
    [refusal_not_on_error]="har/test/states.test.js:every method in every state"
    [clock_runs_through_stall]="test/js/streams.test.js:a stall mid-play holds the position"
    [read_failure_as_demuxer_said]="test/js/streams.test.js:before the header as after it"
    [live_seeks]="test/js/streams.test.js:refuses seeks"
    [group_floor_drops_last]="test/js/bench_floors.test.js:event floors call the listener"
    [group_floor_whole_groups]="test/js/bench_floors.test.js:event floors call the listener"
    [life_floor_not_prepared]="test/js/bench_floors.test.js:engine floor takes every player"
    [ids_not_reused]="har/test/player.test.js:generated ids come back"
    [id_freed_while_record_runs]="har/test/player.test.js:generated ids come back"
    [taken_id_given_again]="har/test/player.test.js:generated ids come back"
    [video_ids_reused]="har/test/player.test.js:generated ids come back"
    [unroute_keeps_route]="har/test/routing.test.js:no crossover"
    [route_table_keeps_ended_route]="har/test/routing.test.js:no crossover"
    [batch_order_reversed]="test/js/events_delivery.test.js:each its own events in order, in both"
    [loop_end_overtakes_batch]="test/js/events_delivery.test.js:ended mid-flood"
    [error_hold_checked_per_batch]="test/js/events_routing.test.js:engine failed no longer keeps"
    [group_text_dropped]="test/js/events_delivery.test.js:arguments: three numbers"
    [group_text_slot_ignored]="test/js/events_delivery.test.js:routed arguments"
    [group_throw_skips_rest]="test/js/events_delivery.test.js:a listener that throws"
    [group_ignores_replacement]="test/js/events_delivery.test.js:replaced or removed inside a batch"
    [removal_not_marked]="test/js/events_delivery.test.js:replaced or removed inside a batch"
    [groups_shared_by_environments]="test/js/events_routing.test.js:routes nothing"
    [flood_not_sliced]="test/js/events_delivery.test.js:flood lets its thread"
    [owed_wake_up_dropped]="test/js/events_delivery.test.js:trickle follows"
    [header_value_nul_taken]="har/test/sources.test.js:texts the module would cut"
    [header_name_colon_taken]="har/test/sources.test.js:texts the module would cut"
    [fd_url_takes_path]="har/test/sources.test.js:any other scheme is 401"
    [claim_ignored]="har/test/routing.test.js:never one another thread holds"
    [protocol_list_app_set]="har/test/sources.test.js:the protocol list is the package's"
    [protocol_list_not_set]="har/test/sources.test.js:the protocol list is the package's"
    [claims_outlive_environment]="test/js/events_routing.test.js:an id claimed by one environment"
    [flood_rest_on_app_timer]="test/js/events_delivery.test.js:whatever the app did to its timers"
    [flood_slices_too_long]="test/js/events_delivery.test.js:at most 4,096 events per turn"
    [failed_wait_keeps_hold]="test/js/events_delivery.test.js:cannot be waited for"
    [group_texts_holey]="test/js/events_delivery.test.js:polluted prototype adds no argument"
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
    cmake --build "$work/build" -j"${JOBS:-2}" --target "$@" >/dev/null
}
# What the node guards load; a native guard's binary is built on its own, as a mutant of the module
# may not link into it.
js_targets=(kavoriplayer_audio_napi kavori_bench_events kavori_bench_floor kavori_test_host
    kavori_no_script_napi kavori_no_async_work_napi)
build "${js_targets[@]}" kavori_proxy_tests
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
    file="${guard[$name]%%:*}"
    pattern="${guard[$name]#*:}"
    # A guard names a node test file, or a native test binary and its gtest filter.
    if [[ "$file" == *.js ]]; then
        build "${js_targets[@]}"
        run=(node --test --test-name-pattern="$pattern" "$file")
    else
        build "$file"
        run=("build/$file" --gtest_filter="$pattern")
    fi
    if (cd "$work" && KAVORI_BUILD_DIR=build "${run[@]}" >"$work/log" 2>&1); then
        echo "js-mutants: $name NOT caught by '$pattern'"
        status=1
    else
        # The failure's first lines, joined (a multi-line message starts with "|-").
        echo "js-mutants: $name caught: $(grep -m1 -A2 -E "error: |Failure" "$work/log" | tr -s ' \n' ' ')"
    fi
    (cd "$work" && git apply -R "$patch")
done
exit $status
