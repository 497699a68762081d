#!/usr/bin/env bash
# scripts/debian-arm64.sh takes its packages from the sources apt is configured with: here local
# arm64 repositories named the ways a system names them (sources.list, a deb822 .sources file),
# one limited to amd64, and a switch from one to another. No network; leaves nothing behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/debian-arm64.XXXXXX")
trap 'rm -rf "$work"' EXIT

# repo NAME VERSION: a repository with suite kv, component main, of kv-app, which depends on
# kv-lib, both arm64.
repo() {
    local p
    mkdir -p "$work/$1/pool" "$work/$1/dists/kv/main/binary-arm64"
    for p in kv-app kv-lib; do
        mkdir -p "$work/pkg/$p/DEBIAN"
        printf 'Package: %s\nVersion: %s\nArchitecture: arm64\nMaintainer: t <t@example.org>\nDescription: t\n' \
            "$p" "$2" >"$work/pkg/$p/DEBIAN/control"
        if [ "$p" = kv-app ]; then echo 'Depends: kv-lib' >>"$work/pkg/$p/DEBIAN/control"; fi
        dpkg-deb -Zgzip --build "$work/pkg/$p" "$work/$1/pool/${p}_$2_arm64.deb" >/dev/null
    done
    (cd "$work/$1" && dpkg-scanpackages -m pool /dev/null >dists/kv/main/binary-arm64/Packages 2>/dev/null)
}
repo one 1.0
repo two 2.0

# configure SOURCES_LIST [NAME.sources TEXT]: the system's apt sources as apt reads them.
configure() {
    rm -rf "$work/etc" && mkdir -p "$work/etc/parts"
    printf '%s\n' "$1" >"$work/etc/sources.list"
    if [ $# -gt 1 ]; then printf '%s\n' "$3" >"$work/etc/parts/$2"; fi
    printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\n' \
        "$work/etc/sources.list" "$work/etc/parts" >"$work/etc/apt.conf"
}
export APT_CONFIG=$work/etc/apt.conf

# check NAME DEBS WANT: the closure of kv-app and the file fetch_debs fetches, or the failure.
check() {
    local got
    got=$( (. "$root/scripts/debian-arm64.sh"
            arm64_closure "$2" kv-app | paste -sd ' ' -
            fetch_debs "$2" kv-app >/dev/null && ls "$2" | grep '\.deb$' | paste -sd ' ' -) 2>&1 |
        sed -n '1,2p;/no arm64 package list/p' | paste -sd '|' -) || true
    if [[ "$got" != $3 ]]; then
        echo "debian_arm64: $1: got '$got', want '$3'" >&2
        exit 1
    fi
}

configure "deb [trusted=yes] file:$work/one kv main"
check 'sources.list' "$work/a" 'kv-lib kv-app|kv-app_1.0_arm64.deb'
configure '' two.sources "$(printf 'Types: deb\nURIs: file:%s\nSuites: kv\nComponents: main\nTrusted: yes' "$work/two")"
check 'a deb822 .sources file' "$work/b" 'kv-lib kv-app|kv-app_2.0_arm64.deb'
# Lists fetched for other sources are not reused: the folder of the first case, now served by two.
rm "$work"/a/*.deb
check 'sources changed since the lists were fetched' "$work/a" 'kv-lib kv-app|kv-app_2.0_arm64.deb'
configure "deb [arch=amd64 trusted=yes] file:$work/one kv main"
check 'a source limited to amd64' "$work/c" "*no arm64 package list*file:$work/one*"
echo "debian_arm64: packages come from the configured sources, in both formats, none from others"
