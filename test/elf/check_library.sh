#!/usr/bin/env bash
# Reads a built module back and compares it with what it must be:
#   check_library.sh LIB EXPORTS [MACHINE NEEDED [NAPI_LEVELS LEVEL]]
# EXPORTS lists the defined dynamic symbols (demangled, without parameters); MACHINE is readelf's
# machine name and NEEDED the list of DT_NEEDED entries, both checked when given, together with
# RUNPATH/RPATH, which may hold nothing but $ORIGIN-relative entries. The library must be pinned
# (FLAGS_1 NODELETE). NAPI_LEVELS lists the
# device's Node-API names with the API level that brings each: every Node-API name the library
# needs must be there by LEVEL, except weak ones, which the library must do without when they
# are missing. Prints the facts read; exits 1 on any difference.
set -euo pipefail
lib=$1 exports=$2 machine=${3:-} needed=${4:-} napi_levels=${5:-} level=${6:-}
status=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "  MISMATCH: $*"; status=1; }
# Lines only in the first list prefixed "-", only in the second "+".
compare() { diff <(sort -u "$1") <(sort -u "$2") | sed -n 's/^< /  - /p; s/^> /  + /p' || true; }

echo "$lib"
dynamic=$(readelf -d -W "$lib")
if [ -n "$machine" ]; then
    got=$(readelf -h "$lib" | sed -n 's/^ *Machine: *//p')
    echo "  machine: $got"
    [ "$got" = "$machine" ] || fail "machine is $got, expected $machine"
fi
if [ -n "$needed" ]; then
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" >"$scratch/needed"
    echo "  NEEDED: $(tr '\n' ' ' <"$scratch/needed")"
    differences=$(compare "$needed" "$scratch/needed")
    [ -z "$differences" ] || fail "NEEDED differs from $needed (- missing, + extra):"$'\n'"$differences"
    paths=$(sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p' <<<"$dynamic" | tr ':' '\n')
    echo "  RUNPATH/RPATH: $(tr "\n" : <<<"${paths:-none}" | sed "s/:$//")"
    host=$(grep -v '^\$ORIGIN' <<<"$paths" || true)
    [ -z "$host" ] || fail "host path in RUNPATH/RPATH: $host"
fi
# The module stays mapped while message threads of ended environments may still run its code.
flags=$(sed -n 's/.*(FLAGS_1).*Flags: *//p' <<<"$dynamic")
echo "  FLAGS_1: ${flags:-none}"
grep -qw NODELETE <<<"$flags" || fail "not pinned: no NODELETE in FLAGS_1 (link with -z nodelete)"
if [ -n "$napi_levels" ]; then
    # "U name" or "w name" for each Node-API name the library needs, then the name's level or "-".
    nm -D --undefined-only "$lib" | awk '$2 ~ /^(napi|node_api)_/ { print $1, $2 }' |
        awk 'NR == FNR { if (!/^#/ && NF == 2) since[$1] = $2; next }
             { print $1, $2, ($2 in since) ? since[$2] : "-" }' "$napi_levels" - >"$scratch/napi"
    weak=$(awk '$1 == "w" { print $2 " (API " $3 ")" }' "$scratch/napi" | paste -sd' ')
    echo "  Node-API: $(wc -l <"$scratch/napi") names, checked against API level $level;" \
        "weak: ${weak:-none}"
    beyond=$(awk -v level="$level" '$3 == "-" || ($1 == "U" && $3 > level) {
        print "    " $2 ($3 == "-" ? " is on no device" : " comes with API level " $3) }' "$scratch/napi")
    [ -z "$beyond" ] || fail "Node-API names beyond API level $level:"$'\n'"$beyond"
fi
nm -D --defined-only -C "$lib" | sed 's/^[0-9a-f]* [A-Za-z] //; s/(.*//' >"$scratch/exports"
echo "  exported: $(sort -u "$scratch/exports" | tr '\n' ' ')"
differences=$(compare "$exports" "$scratch/exports")
[ -z "$differences" ] || fail "exports differ from $exports (- missing, + extra):"$'\n'"$differences"
[ $status -eq 0 ] && echo "  ok: as expected"
exit $status
