#!/usr/bin/env bash
# Fails when code on the engine side (src/proxy/, src/util/ under the given root, default the
# tree's own) includes a header of the JS side (napi/): calls run from the JS side down, never up.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
if found=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]napi/' \
    "$root/src/proxy" "$root/src/util"); then
    echo "check-layers: the engine side includes the JS side:" >&2
    echo "$found" >&2
    exit 1
fi
