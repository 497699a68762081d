#!/usr/bin/env bash
# Shows that the arm64 run catches a fault only arm64 has: char_sign_ascii.patch reads a UTF-8
# lead byte through plain char and takes it as ASCII when not negative, right where char is
# signed (x86_64) and wrong where it is unsigned (aarch64). Builds the native tests from a copy of
# the tree with the patch (build-mutants/arm64/), for the host and for aarch64, and runs them as
# make test and make test-arm64 do. Fails unless the host run passes and the emulated one fails.
#   arm64.sh SYSROOT     (make arm64-mutant, after make test-arm64 has laid out SYSROOT)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
sysroot="$(realpath "$1")"
work="$root/build-mutants/arm64"
tree="$work/tree"
mkdir -p "$tree"
# Sources only; tar keeps the times, so a rerun compiles what changed.
tar -C "$root" -c CMakeLists.txt cmake engine platform src test bench | tar -C "$tree" -x
ln -sfn "$root/node_modules" "$tree/node_modules"
(cd "$tree" && patch -s -p1 <"$root/test/mutants/char_sign_ascii.patch")

run() {  # run NAME [cmake options]: builds and runs the native tests; their output in NAME.log
    local name=$1
    shift
    cmake -S "$tree" -B "$work/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$work/$name" --target kavori_native_tests -j"${JOBS:-2}" >/dev/null
    (cd "$work/$name" && ctest -R '^native$' --output-on-failure) >"$work/$name.log" 2>&1
}

status=0
if run host; then
    echo "arm64-mutant: passes on the host, as it must"
else
    echo "arm64-mutant: FAILED on the host, where it must pass:"
    tail -20 "$work/host.log"
    status=1
fi
if run arm64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm64-linux.toolchain.cmake" \
    -DARM64_SYSROOT="$sysroot"; then
    echo "arm64-mutant: NOT caught under emulation"
    status=1
elif grep -q '\[  FAILED  \]' "$work/arm64.log"; then
    echo "arm64-mutant: caught under emulation: $(grep -m1 '\[  FAILED  \]' "$work/arm64.log")"
    grep -m1 -A3 'Failure' "$work/arm64.log" | sed 's/^/  | /'
else
    echo "arm64-mutant: the emulated run failed without a failing test:"
    tail -20 "$work/arm64.log"
    status=1
fi
exit $status
