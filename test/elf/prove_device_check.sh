#!/usr/bin/env bash
# Shows that the device build check fails on wrong builds: each case relinks the check build
# (build-device/module, made by `make check-device`) with one fault and expects the link or
# check_library.sh to fail; at the end the build is relinked as it was.
set -uo pipefail
cd "$(dirname "$0")/../.."
dir=build-device/module
lib=$dir/libkavoriplayer_audio_napi.so
check=(bash test/elf/check_library.sh "$lib" test/elf/exports.txt AArch64 test/elf/device_needed.txt)
status=0
# The toolchain's own link flags, which each case extends.
base=$(sed -n 's/^CMAKE_SHARED_LINKER_FLAGS:STRING=//p' "$dir/CMakeCache.txt")
[ -f "$lib" ] && [ -n "$base" ] || { echo "run make check-device first"; exit 1; }

relink() { cmake "$dir" "$@" >/dev/null && cmake --build "$dir" -j2 2>&1 | grep -E 'error' ; return "${PIPESTATUS[0]}"; }
expect_failure() {
    local name=$1
    shift
    local output
    if output=$("$@" 2>&1); then
        echo "NOT CAUGHT: $name"
        status=1
    else
        echo "caught: $name: $(grep -m1 -E 'MISMATCH|error' <<<"$output" | sed 's/^ *//')"
    fi
}
check_after() { relink "$@" && "${check[@]}"; }

expect_failure "a stray exported symbol" check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base -Wl,--defsym,kavori_stray=string_copy"
expect_failure "a host path in RUNPATH" check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base -Wl,-rpath,/usr/aarch64-linux-gnu/lib"
expect_failure "a wrong NEEDED (load list trimmed)" check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base" "-DKAVORI_DEVICE_LOAD_LIBS=EGL;GLESv3"
expect_failure "a name no device library has" relink -UKAVORI_DEVICE_LOAD_LIBS "-DCMAKE_SHARED_LINKER_FLAGS=$base -Wl,--wrap=napi_create_threadsafe_function"
expect_failure "a library for another machine" bash test/elf/check_library.sh build/libkavoriplayer_audio_napi.so test/elf/exports.txt AArch64
relink "-DCMAKE_SHARED_LINKER_FLAGS=$base" && "${check[@]}" >/dev/null || { echo "the restored build fails"; status=1; }
exit $status
