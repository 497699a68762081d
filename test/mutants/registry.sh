#!/usr/bin/env bash
# Shows that test/js/registry_threads.test.js catches a registry that drops a player's reference
# without waiting for the readers still taking one (registry_no_reader_wait.patch). Builds the
# module under AddressSanitizer twice, from copies of the tree (build-mutants/registry/): as it is,
# and with the patch. Then runs the test RUNS times on each, the writers going on for up to SECONDS
# each time. Fails unless the mutant is caught in at least MIN_CAUGHT runs and the real code in
# none. Slow (up to RUNS x SECONDS for the real code alone), so not part of CI: make registry-mutant.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
runs="${RUNS:-10}"
seconds="${SECONDS_PER_RUN:-60}"
need="${MIN_CAUGHT:-9}"
work="$root/build-mutants/registry"
asan_runtime="$(g++ -print-file-name=libasan.so)"

build() {  # build <name> [patch]: gives the build folder
    local tree="$work/$1/tree"
    mkdir -p "$tree"
    # Sources only; tar keeps the times, so a rebuild compiles what changed.
    tar -C "$root" -c CMakeLists.txt cmake engine platform src test bench | tar -C "$tree" -x
    ln -sfn "$root/node_modules" "$tree/node_modules"
    if [ -n "${2:-}" ]; then (cd "$tree" && patch -s -p1 <"$2"); fi
    cmake -S "$tree" -B "$work/$1/build" -DCMAKE_BUILD_TYPE=Debug -DKAVORI_SANITIZE=address \
        >/dev/null
    cmake --build "$work/$1/build" --target kavoriplayer_audio_napi -j"${JOBS:-2}" >/dev/null
    echo "$work/$1/build"
}

real="$(build real)"
mutant="$(build mutant "$root/test/mutants/registry_no_reader_wait.patch")"

run() {  # run <build> <log>: prints "caught <ms>", "clean <ms>" or "failed <ms>"
    local log="$2" start end verdict
    start=$(date +%s%N)
    if env KAVORI_BUILD_DIR="$1" KAVORI_STRESS_SECONDS="$seconds" LD_PRELOAD="$asan_runtime" \
        ASAN_OPTIONS=detect_leaks=0:allow_user_segv_handler=1 \
        node --test "$root/test/js/registry_threads.test.js" >"$log" 2>&1; then
        verdict=clean
    elif grep -q 'ERROR: AddressSanitizer' "$log"; then
        verdict=caught
    else
        verdict=failed
        tail -30 "$log" >&2
    fi
    end=$(date +%s%N)
    rm -f "$log"
    echo "$verdict $(((end - start) / 1000000))"
}

caught=0
alarms=0
for i in $(seq 1 "$runs"); do
    read -r verdict ms < <(run "$mutant" "$work/mutant-$i.log")
    [ "$verdict" = caught ] && caught=$((caught + 1))
    printf 'registry mutant, run %2d: %-6s after %d.%03d s\n' "$i" "$verdict" $((ms / 1000)) \
        $((ms % 1000))
done
for i in $(seq 1 "$runs"); do
    read -r verdict ms < <(run "$real" "$work/real-$i.log")
    [ "$verdict" = clean ] || alarms=$((alarms + 1))
    printf 'real code, run %2d:       %-6s after %d.%03d s\n' "$i" "$verdict" $((ms / 1000)) \
        $((ms % 1000))
done
echo "registry mutant caught in $caught of $runs runs; the real code failed in $alarms of $runs"
[ "$caught" -ge "$need" ] && [ "$alarms" -eq 0 ]
