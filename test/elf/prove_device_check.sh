#!/usr/bin/env bash
# Shows that the device build check fails on wrong builds: each case relinks the check build
# (build-device/module, made by `make check-device`) with one fault, some with a probe object
# that makes one wrong call, and expects the compile, the link or check_library.sh to fail; at the
# end the build is relinked as it was.
set -uo pipefail
cd "$(dirname "$0")/../.."
dir=build-device/module
lib=$dir/libkavoriplayer_audio_napi.so
sysroot=build-device/sdk/native/sysroot
# The toolchain's own link flags, which each case extends, and the module's API level.
base=$(sed -n 's/^CMAKE_SHARED_LINKER_FLAGS:STRING=//p' "$dir/CMakeCache.txt")
level=$(sed -n 's/^KAVORI_OHOS_API_LEVEL:STRING=//p' "$dir/CMakeCache.txt")
[ -f "$lib" ] && [ -n "$base" ] && [ -n "$level" ] || { echo "run make check-device first"; exit 1; }
check=(bash test/elf/check_library.sh "$lib" test/elf/exports.txt AArch64 test/elf/device_needed.txt
       test/elf/napi_levels.txt "$level")
status=0
scratch=$(mktemp -d -p "$PWD/build-device")
trap 'rm -rf "$scratch"' EXIT
# probe NAME: compiles $scratch/NAME.c for the device, hidden, as a module source would be built.
cc=(clang-19 --target=aarch64-linux-ohos --sysroot="$sysroot" -fPIC -fvisibility=hidden -Wall -Werror
    -Ibuild-device/sdk/engine/include)
probe() { "${cc[@]}" -c "$scratch/$1.c" -o "$scratch/$1.o"; }
cat >"$scratch/malloc_info.c" <<'C'
#include <malloc.h>
int kavori_probe(void) { return mallinfo().uordblks; }
C
cat >"$scratch/glibc_only.c" <<'C'
const char *gnu_get_libc_version(void);
void error(int status, int errnum, const char *format, ...);
void kavori_probe(void) { error(0, 0, "%s", gnu_get_libc_version()); }
C
cat >"$scratch/napi_level.c" <<'C'
#include <napi/native_api.h>
void kavori_probe(napi_env env, napi_value error) { napi_fatal_exception(env, error); }
C
cat >"$scratch/engine_name.c" <<'C'
#include <libavutil/bprint.h>
void kavori_probe(AVBPrint *text) { av_bprint_finalize(text, 0); }
C
probe glibc_only && probe napi_level && probe engine_name || { echo "a probe does not compile"; exit 1; }
# A newer SDK's Node-API: every name the device has at any level.
mkdir "$scratch/newer"
awk '!/^#/ && NF == 2 { print "void " $1 "(void) {}" }' test/elf/napi_levels.txt >"$scratch/newer/napi.c"
clang-19 --target=aarch64-linux-ohos -fPIC -shared -nostdlib -fuse-ld=lld -w -fno-builtin \
    -Wl,-soname,libace_napi.z.so \
    "$scratch/newer/napi.c" -o "$scratch/newer/libace_napi.z.so"

relink() { cmake "$dir" "$@" >/dev/null && cmake --build "$dir" -j2 2>&1 | grep -E 'error' ; return "${PIPESTATUS[0]}"; }
# expect_failure NAME REASON COMMAND...: COMMAND must fail, and say REASON (a regular expression).
expect_failure() {
    local name=$1 reason=$2
    shift 2
    local output line
    if output=$("$@" 2>&1); then
        echo "NOT CAUGHT: $name"
        status=1
    elif line=$(grep -m1 -E "$reason" <<<"$output"); then
        echo "caught: $name: $(sed 's/^ *//' <<<"$line")"
    else
        echo "FAILED FOR ANOTHER REASON: $name:"$'\n'"$(grep -m3 -E 'MISMATCH|error' <<<"$output")"
        status=1
    fi
}
check_after() { relink "$@" && "${check[@]}"; }

expect_failure "a stray exported symbol" 'exports differ' check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base -Wl,--defsym,kavori_stray=string_copy"
expect_failure "a host path in RUNPATH" 'host path in RUNPATH' check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base -Wl,-rpath,/usr/aarch64-linux-gnu/lib"
expect_failure "a wrong NEEDED (load list trimmed)" 'NEEDED differs' check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base" "-DKAVORI_DEVICE_LOAD_LIBS=EGL;GLESv3"
expect_failure "a name no device library has" 'undefined symbol: __wrap_napi_create_threadsafe_function' relink -UKAVORI_DEVICE_LOAD_LIBS "-DCMAKE_SHARED_LINKER_FLAGS=$base -Wl,--wrap=napi_create_threadsafe_function"
expect_failure "a library for another machine" 'machine is .*expected AArch64' bash test/elf/check_library.sh build/libkavoriplayer_audio_napi.so test/elf/exports.txt AArch64
expect_failure "a glibc-only call of a glibc header (mallinfo)" "undeclared function 'mallinfo'" probe malloc_info
expect_failure "a glibc-only call declared by hand (error, gnu_get_libc_version)" 'undefined symbol: (error|gnu_get_libc_version)' \
    relink "-DCMAKE_SHARED_LINKER_FLAGS=$base $scratch/glibc_only.o"
expect_failure "a Node-API name above API level $level" 'undefined symbol: napi_fatal_exception' \
    relink "-DCMAKE_SHARED_LINKER_FLAGS=$base $scratch/napi_level.o"
expect_failure "a Node-API name above API level $level, linked with a newer SDK" 'napi_fatal_exception comes with API level 12' \
    check_after "-DCMAKE_SHARED_LINKER_FLAGS=-L$scratch/newer $base $scratch/napi_level.o"
expect_failure "an engine name beyond kvmp.h and the five FFmpeg log calls" 'undefined symbol: av_bprint_finalize' \
    relink "-DCMAKE_SHARED_LINKER_FLAGS=$base $scratch/engine_name.o"
expect_failure "a module that can be unloaded" 'not pinned' check_after "-DCMAKE_SHARED_LINKER_FLAGS=$base" -DKAVORI_PINNED=OFF
relink "-DCMAKE_SHARED_LINKER_FLAGS=$base" -DKAVORI_PINNED=ON && "${check[@]}" >/dev/null || { echo "the restored build fails"; status=1; }
exit $status
