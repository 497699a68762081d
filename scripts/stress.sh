#!/usr/bin/env bash
# Runs test commands round after round while two busy loops keep both cores loaded, as a CI
# machine shared with other jobs is: a test that waits for time instead of for its condition
# fails here. Usage: stress.sh ROUNDS NAME COMMAND [ROUNDS NAME COMMAND]...
# Each COMMAND is run by bash; a failed round's output is kept in build/stress-NAME-N.log.
set -uo pipefail
cd "$(dirname "$0")/.."

busy=()
stop_busy() {
    for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null; done
    busy=()
}
trap stop_busy EXIT
trap 'exit 130' INT TERM
for _ in 1 2; do
    bash -c 'while :; do :; done' &
    busy+=($!)
done
echo "stress: busy loops ${busy[*]} load both cores"

mkdir -p build
out=$(mktemp "${TMPDIR:-/tmp}/kavori-stress.XXXXXX")
trap 'stop_busy; rm -f "$out"' EXIT
failed=0
total=0
while [ $# -ge 3 ]; do
    rounds=$1 name=$2 command=$3
    shift 3
    for ((round = 1; round <= rounds; round++)); do
        total=$((total + 1))
        start=$SECONDS
        if bash -c "$command" >"$out" 2>&1; then
            echo "stress: $name round $round/$rounds passed in $((SECONDS - start)) s"
        else
            failed=$((failed + 1))
            keep="build/stress-${name// /-}-$round.log"
            cp "$out" "$keep"
            echo "stress: $name round $round/$rounds FAILED in $((SECONDS - start)) s (log: $keep)"
            grep -E '^\s*not ok|^\s+(error|expected|actual):|leaves-nothing:' "$keep" | head -20 |
                sed 's/^/  | /'
        fi
    done
done
echo "stress: $((total - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
