#!/usr/bin/env bash
# Builds event_text_fuzz against each wrong event_text.cpp here (in a scratch copy) and fails
# unless the fuzzer finds a failing input within FUZZ_SECONDS. Prints the time each one took.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
seconds="${FUZZ_SECONDS:-60}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer)
status=0
for patch in "$root"/test/fuzz/mutants/*.patch; do
    name="$(basename "$patch" .patch)"
    work="$scratch/$name"
    mkdir -p "$work/src/util" "$work/test/fuzz"
    cp "$root"/src/util/event_text.{h,cpp} "$work/src/util/"
    cp "$root/test/fuzz/event_text_fuzz.cpp" "$work/test/fuzz/"
    (cd "$work" && git apply "$patch")
    clang++ "${flags[@]}" -I"$work/src" "$work/test/fuzz/event_text_fuzz.cpp" \
        "$work/src/util/event_text.cpp" -o "$work/fuzz"
    start=$(date +%s%N)
    if (cd "$work" && ./fuzz -max_total_time="$seconds" -print_final_stats=0 >log 2>&1); then
        echo "fuzz-mutants: $name NOT caught in $seconds s"
        status=1
    elif grep -q 'deadly signal\|ERROR: AddressSanitizer\|runtime error' "$work/log"; then
        elapsed=$((($(date +%s%N) - start) / 1000000))
        printf 'fuzz-mutants: %s caught after %d.%03d s\n' "$name" $((elapsed / 1000)) $((elapsed % 1000))
    else
        echo "fuzz-mutants: $name: the fuzzer failed without a finding"; tail -20 "$work/log"
        status=1
    fi
done
exit $status
