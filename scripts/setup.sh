#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing and the demo; nothing else.
# `setup.sh device` adds the cross toolchain of the device build check (make check-device).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config clang libclang-rt-14-dev
          libavutil-dev libavformat-dev libavcodec-dev ffmpeg
          libgtest-dev)
if [ "${1:-}" = device ]; then
    packages+=(clang-19 libc++-19-dev lld-19)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Any Node.js will do, Debian's own included: the Node-API headers come from npm.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Again whenever the lock file changed since the last install (npm rewrites its own copy).
if [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund --silent
fi
