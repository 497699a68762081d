#!/usr/bin/env bash
# Fails when a Makefile target runs what setup installs (cmake, node, the compilers, the repo's
# scripts) without setup among its prerequisites, directly or through theirs. Under make -j the
# prerequisites of one target start together; only a target's own prerequisites, and theirs, are
# done before its recipe starts. A configure step beside setup instead of after it fails on a
# fresh machine ("cmake: command not found", or missing Node-API headers while npm ci runs).
#   check-setup-order.sh [MAKEFILE]   (default: the Makefile of this tree)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
makefile=$(realpath "${1:-$root/Makefile}")
cd "$root"

# make's own reading of the rules (-q runs no recipe): "T<tab>prerequisites" and "R<tab>recipe
# line" per target, order-only prerequisites counted as prerequisites.
database=$(LC_ALL=C make -pq -f "$makefile" 2>/dev/null || true)
[ -n "$database" ] || { echo "check-setup-order: make could not read $makefile" >&2; exit 1; }
rules=$(awk '
    /^# Files/ { files = 1; next }
    /^# files hash-table stats/ { files = 0 }
    !files { next }
    /^# Not a target:/ { skip = 1; next }
    /^$/ { target = ""; skip = 0; next }
    /^[^#\t][^:]*:([^=]|$)/ && !skip {
        target = substr($0, 1, index($0, ":") - 1)
        rest = substr($0, index($0, ":") + 1); gsub(/\|/, " ", rest)
        print "T\t" target "\t" rest; next
    }
    /^\t/ && target != "" { print "R\t" target "\t" substr($0, 2) }
' <<<"$database")

# A recipe needs setup when it runs one of the tools it installs or a script of the tree.
needs='(^|[^[:alnum:]_./-])(cmake|ctest|node|npm|clang-format|clang|g\+\+)([^[:alnum:]_-]|$)|bash (scripts|test|bench)/'
status=0
for target in $(awk -F'\t' -v re="$needs" '$1 == "R" && $3 ~ re && $3 !~ /scripts\/setup\.sh/ { print $2 }' <<<"$rules" | sort -u); do
    # Everything this target's prerequisites reach.
    reached=$(awk -F'\t' -v start="$target" '
        $1 == "T" { n = split($3, p, " "); for (i = 1; i <= n; i++) pre[$2] = pre[$2] " " p[i] }
        END {
            queue[1] = start; head = 1; tail = 1; seen[start] = 1
            while (head <= tail) {
                n = split(pre[queue[head++]], p, " ")
                for (i = 1; i <= n; i++) if (!(p[i] in seen)) { seen[p[i]] = 1; queue[++tail] = p[i]; print p[i] }
            }
        }' <<<"$rules")
    if ! grep -qx setup <<<"$reached"; then
        echo "check-setup-order: $target runs what setup installs, but does not wait for setup:" \
            "give it '| setup' (an order-only prerequisite)" >&2
        status=1
    fi
done
[ $status -ne 0 ] || echo "check-setup-order: every target that runs what setup installs waits for it"
exit $status
