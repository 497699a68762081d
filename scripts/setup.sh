#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing and the demo; nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config clang libclang-rt-14-dev
          libavutil-dev libavformat-dev libavcodec-dev ffmpeg
          libgtest-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js with its headers may come from another repository than Debian's; keep it if present.
if ! command -v node >/dev/null || [ ! -f /usr/include/node/node_api.h ]; then
    missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ -f package-lock.json ] && [ ! -d node_modules ]; then
    npm ci --no-audit --no-fund --silent
fi
