#!/usr/bin/env bash
# Runs a command with TMPDIR pointed at a fresh folder and fails when the command leaves anything
# in it: tests remove what they create, failed ones included. The folder goes either way.
set -uo pipefail
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kavori-tmpcheck.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
TMPDIR=$scratch "$@"
status=$?
if [ -n "$(ls -A "$scratch")" ]; then
    echo "leaves-nothing: '$*' left in TMPDIR ($(du -sb "$scratch" | cut -f1) bytes):" >&2
    ls -A "$scratch" | head -20 >&2
    [ "$status" -ne 0 ] || status=1
fi
exit "$status"
