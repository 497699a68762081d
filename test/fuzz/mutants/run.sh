#!/usr/bin/env bash
# Builds event_text_fuzz against each wrong event_text.cpp here (in a scratch copy) and fails
# unless the fuzzer finds a failing input within FUZZ_SECONDS. Prints the time each one took.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
seconds="${FUZZ_SECONDS:-60}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# The fuzz target as make fuzz builds it, over the wrong version of the moment.
mkdir -p "$scratch/src/util"
cp "$root/src/util/event_text.cpp" "$scratch/src/util/"
CC=clang CXX=clang++ cmake -S "$root" -B "$scratch/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVORI_EVENT_TEXT_SOURCE="$scratch/src/util/event_text.cpp" >/dev/null
# The SEI mutant must also be caught by each of the fuzzer's two SEI oracles alone.
declare -A alone=([drops_letter]="reference graphic")
status=0
for patch in "$root"/test/fuzz/mutants/*.patch; do
    name="$(basename "$patch" .patch)"
    work="$scratch/$name"
    mkdir -p "$work"
    cp "$root/src/util/event_text.cpp" "$scratch/src/util/"
    (cd "$scratch" && git apply "$patch")
    cmake --build "$scratch/build" --target event_text_fuzz >/dev/null
    cp "$scratch/build/event_text_fuzz" "$work/fuzz"
    for oracle in all ${alone[$name]:-}; do
        label="$name"
        [ "$oracle" = all ] || label="$name (SEI oracle $oracle alone)"
        settings=()
        [ "$oracle" = all ] || settings=("EVENT_TEXT_FUZZ_SEI=$oracle")
        start=$(date +%s%N)
        if (cd "$work" && rm -f crash-* && env "${settings[@]}" ./fuzz -max_total_time="$seconds" \
            -print_final_stats=0 >log 2>&1); then
            echo "fuzz-mutants: $label NOT caught in $seconds s"
            status=1
        elif grep -q 'deadly signal\|ERROR: AddressSanitizer\|runtime error' "$work/log"; then
            elapsed=$((($(date +%s%N) - start) / 1000000))
            printf 'fuzz-mutants: %s caught after %d.%03d s\n' "$label" $((elapsed / 1000)) \
                $((elapsed % 1000))
        else
            echo "fuzz-mutants: $label: the fuzzer failed without a finding"; tail -20 "$work/log"
            status=1
        fi
    done
done
exit $status
