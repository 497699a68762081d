#!/usr/bin/env bash
# Builds the module the way the package's build profile (har/build-profile.json5) has the
# platform's build tool build it: the CMake project that externalNativeOptions.path names,
# configured with exactly its `arguments` and `cppFlags`, once for each of its `abiFilters`,
# through the toolchain file as the SDK's, with the stand-in engine dropped into the package's
# engine folder:
#   ohos-check-profile.sh OUT SDK
# The package is mirrored in OUT/package (links to the sources, a real engine folder), so the
# source tree is left as it is. Prints the built libraries, one a line.
set -euo pipefail
out=$(realpath -m "$1")
sdk=$(realpath "$2")
root=$(realpath "$(dirname "$0")/..")
mirror=$out/package

rm -rf "$mirror"
mkdir -p "$mirror/har"
for entry in "$root"/*; do
    case ${entry##*/} in build* | har) ;; *) ln -s "$entry" "$mirror/" ;; esac
done
for entry in "$root"/har/*; do
    [ "${entry##*/}" = engine ] || ln -s "$entry" "$mirror/har/"
done
cp -r "$root/har/engine" "$mirror/har/engine"
cp -r "$sdk/engine/include" "$sdk/engine/lib" "$mirror/har/engine/"

# The profile's native options as NUL-separated fields: the CMake project, then per ABI the
# arguments the build tool passes.
mapfile -d '' fields < <(node -e '
const o = require(process.argv[2]).parse(require("fs").readFileSync(process.argv[1], "utf8"))
    .buildOption.externalNativeOptions;
const out = [o.path];
for (const abi of o.abiFilters)
    out.push([`-DOHOS_ARCH=${abi}`, ...(o.arguments || "").split(/\s+/).filter(Boolean),
              ...(o.cppFlags ? [`-DCMAKE_CXX_FLAGS=${o.cppFlags}`] : [])].join("\n"));
process.stdout.write(out.join("\0") + "\0");
' "$mirror/har/build-profile.json5" "$root/node_modules/json5")
project=$(dirname "$(realpath -m --no-symlinks "$mirror/har/${fields[0]}")")

for args in "${fields[@]:1}"; do
    mapfile -t args <<<"$args"
    abi=${args[0]#-DOHOS_ARCH=}
    build=$out/$abi
    echo "profile: cmake ${args[*]}" >&2
    cmake --fresh -S "$project" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/ohos-check.toolchain.cmake" \
        -DOHOS_CHECK_SDK="$sdk" -DOHOS_STL=c++_shared -DKAVORI_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
        "${args[@]}" >/dev/null
    cmake --build "$build" -j"${JOBS:-2}" >/dev/null
    echo "$build/libkavoriplayer_audio_napi.so"
done
