#!/usr/bin/env bash
# scripts/setup.sh and the node it finds: one that takes the tests' options is left alone; an older
# one of apt's is upgraded through apt; setup fails saying why when apt has none newer, or when the
# node is not apt's. node, apt, dpkg and sudo are stand-ins here: nothing is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/setup-node.XXXXXX")
trap 'rm -rf "$work"' EXIT
real_node=$(command -v node)

# setup.sh in a tree whose npm packages are installed, so only the node check is at stake.
mkdir -p "$work/tree/scripts" "$work/tree/node_modules" "$work/bin"
cp "$root/scripts/setup.sh" "$work/tree/scripts/"
cp "$root/package-lock.json" "$work/tree/"
touch -d 2000-01-01 "$work/tree/package-lock.json"
touch "$work/tree/node_modules/.package-lock.json"

stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
# node: the version in the file version; before 18.19 it refuses --test-concurrency, as node does.
stand_in node "v=\$(cat '$work/version'); case \"\$*\" in
    --version) echo \"\$v\"; exit ;;
    *--test-concurrency*) [ \"\$v\" = v18.20.4 ] || { echo \"bad option: \$1\" >&2; exit 9; } ;;
esac; exec '$real_node' \"\$@\""
stand_in npm 'exit 0'
# dpkg owns the node when the file owner exists; every package is installed.
stand_in dpkg "[ -e '$work/owner' ] && echo \"nodejs: \$2\""
stand_in dpkg-query 'echo "install ok installed"'
# apt-get install brings apt's candidate node.
stand_in apt-get "echo \"\$*\" >>'$work/apt.log'
case \" \$* \" in *' install '*) cp '$work/candidate' '$work/version' ;; esac"
stand_in apt-cache "echo \"  Candidate: \$(cat '$work/candidate')\""
stand_in sudo '[ "$1" = -n ] && shift; [ "$1" = -v ] || [ "$1" = true ] || exec "$@"'

status=0
# case | node found | apt's? | apt's candidate | setup's exit | its output | apt's calls
while IFS='|' read -r name version owner candidate want_exit want_out want_apt; do
    echo "$version" >"$work/version" && echo "$candidate" >"$work/candidate"
    rm -f "$work/owner" "$work/apt.log" && if [ "$owner" = yes ]; then touch "$work/owner"; fi
    exit_code=0
    out=$(PATH="$work/bin:$PATH" bash "$work/tree/scripts/setup.sh" 2>&1) || exit_code=$?
    apt=$(paste -sd ';' "$work/apt.log" 2>/dev/null || true)
    # shellcheck disable=SC2053 # the wanted texts are patterns
    if [ "$exit_code" != "$want_exit" ] || [[ "$out" != $want_out ]] || [[ "$apt" != $want_apt ]]; then
        echo "setup_node: $name: exit $exit_code, apt '$apt', output:" >&2
        sed 's/^/  | /' <<<"$out" >&2
        status=1
    fi
done <<'CASES'
a node that takes them|v18.20.4|yes|v18.20.4|0|*apt: all*present*npm:*|
Debian 12's as it shipped|v18.13.0|yes|v18.20.4|0|*v18.13.0 at*too old*apt upgrades it*npm:*|update;install -y nodejs npm
apt has none newer|v18.13.0|yes|v18.13.0|1|*FAILED: node v18.13.0 at*after apt*(v18.13.0)*18.19 or later*|update;install -y nodejs npm
not apt's|v16.20.0|no|v18.20.4|1|*FAILED: node v16.20.0 at*not installed by apt*|
CASES
[ $status -ne 0 ] || echo "setup_node: setup takes a node that runs the tests, upgrades apt's, and says why when not"
exit $status
