#!/usr/bin/env bash
# Lays out the stand-in SDK of the device build check in OUT for API level LEVEL, the way the
# OpenHarmony SDK lays out its native part:
#   ohos-check-sdk.sh OUT LEVEL
#   OUT/native/sysroot/usr/include                  napi/, hilog/, ace/xcomponent/; the C library
#                                                    (musl's arm64 headers) as aarch64-linux-ohos/
#   OUT/native/sysroot/usr/lib/aarch64-linux-ohos   the platform and load-list libraries; musl's
#                                                    libc.so
#   OUT/native/llvm/lib/aarch64-linux-ohos          libc++_shared.so, libclang_rt.builtins.a
#   OUT/engine                                       an engine package (include/, lib/)
# The C library is the device's kind, musl, taken from Debian's arm64 packages. The others are
# stubs: each defines the names its real library exports (taken from its headers, from Debian's
# build of it or, for Node-API, from the names the device has at LEVEL) as an empty function, so
# a link with -z defs shows that each name the module uses exists there; they do nothing when
# called and are never run.
set -euo pipefail
out=$(realpath -m "$1")
level=$2
root=$(realpath "$(dirname "$0")/..")
# Package files outlive OUT, so a rerun fetches nothing.
debs=$(dirname "$out")/debs
native=$out/native
sysroot=$native/sysroot
libdir=$sysroot/usr/lib/aarch64-linux-ohos
llvmlib=$native/llvm/lib/aarch64-linux-ohos
engine=$out/engine
cc=(clang-19 --target=aarch64-linux-ohos --sysroot="$sysroot" -fPIC)
stub_flags=(-shared -nostdlib -fuse-ld=lld -w -fno-builtin)

rm -rf "$out"
mkdir -p "$sysroot/usr/include" "$libdir" "$llvmlib" "$engine/include" "$engine/lib" "$out/src"

. "$root/scripts/debian-arm64.sh"
fetch_debs "$debs" musl musl-dev
for deb in "$debs"/musl_*_arm64.deb "$debs"/musl-dev_*_arm64.deb; do
    dpkg-deb -x "$deb" "$out/src/musl"
done

# Headers. Node-API's sit beside napi/native_api.h, as the SDK keeps them.
mv "$out/src/musl/usr/include/aarch64-linux-musl" "$sysroot/usr/include/aarch64-linux-ohos"
cp -r "$root/platform/include/napi" "$root/platform/include/hilog" "$root/platform/include/ace" \
    "$sysroot/usr/include/"
cp "$root"/node_modules/node-api-headers/include/*.h "$sysroot/usr/include/napi/"
cp "$root/engine/include/kvmp.h" "$engine/include/"
cp -rL "$(dirname "$(realpath /usr/include/*/libavutil/avutil.h)")" "$engine/include/libavutil"

# stub NAME SONAME: a library from $out/src/NAME.names (one "f name" or "d name" a line).
stub() {
    sort -u "$out/src/$1.names" | awk '$2 ~ /^[A-Za-z_][A-Za-z0-9_]*$/ {
        if ($1 == "f") print "void " $2 "(void) {}"; else print "char " $2 "[16];" }' \
        >"$out/src/$1.c"
    "${cc[@]}" "${stub_flags[@]}" -Wl,-soname,"$2" "$out/src/$1.c" -o "$3/$2"
}
# exported_names LIB...: the defined dynamic names of Debian's build of a library, without the
# section bounds its linker added.
exported_names() {
    nm -D --defined-only "$@" | sed 's/@.*//' | awk '$3 ~ /^(_end|_edata|__bss_start)$/ { next }
        $2 ~ /[TWi]/ { print "f " $3 } $2 ~ /[DBVR]/ { print "d " $3 }'
}
# declared_names REGEX HEADER...: the functions matching REGEX that the headers declare.
declared_names() {
    local regex=$1
    shift
    grep -ohE "\\b($regex)[A-Za-z0-9_]*[[:space:]]*\\(" "$@" | sed 's/[[:space:](]*$//; s/^/f /'
}

# The C library: musl's one libc.so (C, maths, threads, loader), as on the device.
cp "$out/src/musl/lib/aarch64-linux-musl/libc.so" "$libdir/libc.so"

# The C++ runtime, with the names of Debian's libc++ 19.
exported_names /usr/lib/llvm-19/lib/{libc++.so.1,libc++abi.so.1,libunwind.so.1} \
    >"$out/src/cxx.names"
stub cxx libc++_shared.so "$llvmlib"
# Of the builtins only the ones the module's code asks for (thread_local is emulated on this
# target); hidden, as compiler-rt builds them.
echo 'void __emutls_get_address(void) {}' >"$out/src/builtins.c"
"${cc[@]}" -fvisibility=hidden -w -fno-builtin -c "$out/src/builtins.c" -o "$out/src/builtins.o"
ar rcs "$llvmlib/libclang_rt.builtins.a" "$out/src/builtins.o"

# Node-API: the names the device has at LEVEL. The headers declare more.
awk -v level="$level" '!/^#/ && NF == 2 && $2 <= level { print "f " $1 }' \
    "$root/test/elf/napi_levels.txt" >"$out/src/ace_napi.names"
stub ace_napi libace_napi.z.so "$libdir"

# hilog and XComponent: the project's own stand-ins, built for aarch64.
for lib in hilog/hilog.c:libhilog_ndk.z.so xcomponent/xcomponent.c:libace_ndk.z.so; do
    "${cc[@]}" -shared -nostdlib -fuse-ld=lld -Wall -Wextra -Werror -I"$root/platform/include" \
        -Wl,-soname,"${lib#*:}" "$root/platform/${lib%%:*}" -L"$libdir" -lc -o "$libdir/${lib#*:}"
done

# The engine: its own calls and the five FFmpeg logging calls it is documented to carry; the
# rest of FFmpeg inside it is not part of its interface.
{
    declared_names 'kvmp_|kvmeta_' "$engine/include/kvmp.h"
    printf 'f %s\n' av_log_set_level av_log_set_callback av_bprint_init av_bprintf av_vbprintf
} >"$out/src/kavoriplayer.names"
stub kavoriplayer libkavoriplayer.so "$engine/lib"

# The rest of the load list: libraries the module never calls.
: >"$out/src/empty.names"
for lib in EGL GLESv3 native_window ohaudio native_media_codecbase native_media_avmuxer \
    native_buffer z; do
    stub empty "lib$lib.so" "$libdir"
done
echo "ohos-check-sdk: $out"
