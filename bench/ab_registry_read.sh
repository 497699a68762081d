#!/usr/bin/env bash
# Interleaved A/B of the engine player registry read on the call-overhead bench: the lock-free read
# (a reader slot, the default build) against the same read under the registry's mutex
# (-DKAVORI_REGISTRY_READ_LOCKED=ON). Builds both once, in build-ab/, then runs PAIRS pairs
# (default 8), each pair both builds back to back, the first of the pair alternating. Prints per
# pair the _getCurrentPosition rates and the gain of the lock-free read, then each run's ratio to
# its own floor with the query and a reference and the gain measured by those ratios (steadier
# under load, as each run carries its floor), then the medians. Meant for a quiet machine: the
# lock-free read is worth its complexity at a median gain of 10% or more.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pairs="${PAIRS:-8}"
rounds="${ROUNDS:-5}"

build() {  # build <name> <locked>
    cmake -S "$root" -B "$root/build-ab/$1" -DCMAKE_BUILD_TYPE=Release \
        -DKAVORI_REGISTRY_READ_LOCKED="$2" >/dev/null
    cmake --build "$root/build-ab/$1" --target kavoriplayer_audio_napi kavori_bench_floor \
        -j"${JOBS:-2}" >/dev/null
}
build lockfree OFF
build locked ON

measure() {  # measure <name>: "<module ops/s> <module over the floor with query and reference>"
    KAVORI_BUILD_DIR="$root/build-ab/$1" KAVORI_BENCH_JSON=1 KAVORI_BENCH_ROUNDS="$rounds" \
        node "$root/bench/call_overhead.js" |
        node -e 'const r = JSON.parse(require("fs").readFileSync(0, "utf8"));
                 console.log(r.medians.module, r.moduleOverRef);'
}

echo "registry read A/B, $pairs pairs, $rounds rounds of 2M calls per run (M ops/s of" \
    "_getCurrentPosition; x: over the floor with the query and a reference)"
printf '%-5s %-8s %10s %10s %8s %8s %8s %8s\n' pair first lock-free locked gain x-free x-locked \
    x-gain
gains=()
xgains=()
for i in $(seq 1 "$pairs"); do
    if [ $((i % 2)) -eq 1 ]; then
        read -r free freeX < <(measure lockfree)
        read -r locked lockedX < <(measure locked)
        first=lockfree
    else
        read -r locked lockedX < <(measure locked)
        read -r free freeX < <(measure lockfree)
        first=locked
    fi
    gain=$(node -e "console.log(((${free} / ${locked} - 1) * 100).toFixed(1))")
    xgain=$(node -e "console.log(((${lockedX} / ${freeX} - 1) * 100).toFixed(1))")
    gains+=("$gain")
    xgains+=("$xgain")
    printf '%-5s %-8s %10.2f %10.2f %7s%% %8.2f %8.2f %7s%%\n' "$i" "$first" \
        "$(node -e "console.log(${free} / 1e6)")" "$(node -e "console.log(${locked} / 1e6)")" \
        "$gain" "$freeX" "$lockedX" "$xgain"
done
median() {
    printf '%s\n' "$@" | node -e '
        const v = require("fs").readFileSync(0, "utf8").trim().split("\n").map(Number);
        v.sort((a, b) => a - b);
        const n = v.length;
        console.log((n % 2 ? v[(n - 1) / 2] : (v[n / 2 - 1] + v[n / 2]) / 2).toFixed(1));'
}
echo "median gain of the lock-free read: $(median "${gains[@]}")% in rate," \
    "$(median "${xgains[@]}")% over the floor (keep it at 10% or more)"
