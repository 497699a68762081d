#!/usr/bin/env bash
# Lays out in OUT the arm64 Debian packages the host build needs on aarch64 (make test-arm64):
#   arm64-sysroot.sh OUT
# Node.js and FFmpeg's libraries with everything they load (what qemu-aarch64-static -L OUT runs
# the tests with), and the FFmpeg and GoogleTest headers and link names. The -dev packages come
# without their own dependencies: the cross compiler brings its C and C++ libraries, and a second
# copy of glibc's headers on the include path would shadow the ones libstdc++ wraps.
# Package files are kept beside OUT and OUT is rebuilt only when they change.
set -euo pipefail
out=$(realpath -m "$1")
root=$(realpath "$(dirname "$0")/..")
debs=$(dirname "$out")/debs
runtime=(nodejs libavformat59 libavcodec59 libavutil57)
dev=(libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libgtest-dev)

. "$root/scripts/debian-arm64.sh"
# The closure is worked out once; its list then names every file the sysroot is made of.
closure=$debs/closure.txt
if [ ! -s "$closure" ] || [ "$(head -1 "$closure")" != "# ${runtime[*]} ${dev[*]}" ]; then
    mkdir -p "$debs"
    { echo "# ${runtime[*]} ${dev[*]}"; arm64_closure "$debs" "${runtime[@]}"; printf '%s\n' "${dev[@]}"; } \
        >"$closure.new"
    mv "$closure.new" "$closure"
fi
mapfile -t packages < <(grep -v '^#' "$closure")
fetch_debs "$debs" "${packages[@]}"

files=()
for p in "${packages[@]}"; do files+=("$(compgen -G "$debs/${p}_*.deb" | sort -V | tail -1)"); done
stamp=$out/.packages
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(basename -a "${files[@]}")" ]; then
    exit 0
fi
echo "arm64-sysroot: unpacking ${#files[@]} packages into $out"
rm -rf "$out"
mkdir -p "$out"
for f in "${files[@]}"; do dpkg-deb -x "$f" "$out"; done
basename -a "${files[@]}" >"$stamp"
