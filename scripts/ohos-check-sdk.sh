#!/usr/bin/env bash
# Lays out the stand-in SDK of the device build check in OUT, the way the OpenHarmony SDK lays
# out its native part, from the project's stand-in headers and stub libraries built for aarch64:
#   OUT/native/sysroot/usr/include                  napi/, hilog/, ace/xcomponent/; the C library
#                                                    (Debian's arm64 headers) as aarch64-linux-ohos/
#   OUT/native/sysroot/usr/lib/aarch64-linux-ohos   the platform and load-list libraries, libc.so
#   OUT/native/llvm/lib/aarch64-linux-ohos          libc++_shared.so, libclang_rt.builtins.a
#   OUT/engine                                       an engine package (include/, lib/)
# Stubs define every name their real library exports (taken from its headers or from Debian's
# build of it) as an empty function, so a link with -z defs shows that each name the module
# uses exists there; they do nothing when called and are never run.
set -euo pipefail
out=$(realpath -m "$1")
root=$(realpath "$(dirname "$0")/..")
native=$out/native
sysroot=$native/sysroot
libdir=$sysroot/usr/lib/aarch64-linux-ohos
llvmlib=$native/llvm/lib/aarch64-linux-ohos
engine=$out/engine
cc=(clang-19 --target=aarch64-linux-ohos --sysroot="$sysroot" -fPIC)
stub_flags=(-shared -nostdlib -fuse-ld=lld -w -fno-builtin)

rm -rf "$out"
mkdir -p "$sysroot/usr/include" "$libdir" "$llvmlib" "$engine/include" "$engine/lib" "$out/src"

# Headers. Node-API's sit beside napi/native_api.h, as the SDK keeps them.
ln -s /usr/aarch64-linux-gnu/include "$sysroot/usr/include/aarch64-linux-ohos"
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

# The C library: one libc.so as on the device, with the names of Debian's arm64 C library.
exported_names /usr/aarch64-linux-gnu/lib/{libc.so.6,libm.so.6,ld-linux-aarch64.so.1} \
    >"$out/src/c.names"
stub c libc.so "$libdir"

# The C++ runtime, with the names of Debian's libc++ 19.
exported_names /usr/lib/llvm-19/lib/{libc++.so.1,libc++abi.so.1,libunwind.so.1} \
    >"$out/src/cxx.names"
stub cxx libc++_shared.so "$llvmlib"
# Of the builtins only the ones the module's code asks for (thread_local is emulated on this
# target); hidden, as compiler-rt builds them.
echo 'void __emutls_get_address(void) {}' >"$out/src/builtins.c"
"${cc[@]}" -fvisibility=hidden -w -fno-builtin -c "$out/src/builtins.c" -o "$out/src/builtins.o"
ar rcs "$llvmlib/libclang_rt.builtins.a" "$out/src/builtins.o"

# Node-API, by the names of the Node-API headers.
node -e "const s = require('$root/node_modules/node-api-headers').symbols;
for (const v of Object.values(s)) for (const l of Object.values(v)) for (const n of l)
  console.log('f ' + n);" >"$out/src/ace_napi.names"
stub ace_napi libace_napi.z.so "$libdir"

# hilog and XComponent: the project's own stand-ins, built for aarch64.
for lib in hilog/hilog.c:libhilog_ndk.z.so xcomponent/xcomponent.c:libace_ndk.z.so; do
    "${cc[@]}" -shared -nostdlib -fuse-ld=lld -Wall -Wextra -Werror -I"$root/platform/include" \
        -Wl,-soname,"${lib#*:}" "$root/platform/${lib%%:*}" -L"$libdir" -lc -o "$libdir/${lib#*:}"
done

# The engine: its own calls and the FFmpeg logging calls it carries.
{
    declared_names 'kvmp_|kvmeta_' "$engine/include/kvmp.h"
    declared_names 'av_' "$engine"/include/libavutil/{log,bprint}.h
} >"$out/src/kavoriplayer.names"
stub kavoriplayer libkavoriplayer.so "$engine/lib"

# The rest of the load list: libraries the module never calls.
: >"$out/src/empty.names"
for lib in EGL GLESv3 native_window ohaudio native_media_codecbase native_media_avmuxer \
    native_buffer z; do
    stub empty "lib$lib.so" "$libdir"
done
echo "ohos-check-sdk: $out"
