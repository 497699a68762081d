#!/usr/bin/env bash
# scripts/debian-arm64.sh takes its packages from the apt sources this system is configured with:
# local arm64 repositories named in sources.list or in a deb822 .sources file, a switch from one to
# the other, and one limited to amd64. No network; leaves nothing behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/debian-arm64.XXXXXX")
trap 'rm -rf "$work"' EXIT
export APT_CONFIG=$work/apt.conf
printf 'Dir::Etc::SourceList "%s/list";\nDir::Etc::SourceParts "%s/parts";\n' "$work" "$work" >"$APT_CONFIG"

# Repository NAME, suite kv, component main: kv-app VERSION, which depends on kv-lib.
for repo in one:1.0 two:2.0; do
    name=${repo%:*} version=${repo#*:}
    mkdir -p "$work/$name/dists/kv/main/binary-arm64"
    for p in kv-app kv-lib; do
        mkdir -p "$work/pkg/$p/DEBIAN"
        printf 'Package: %s\nVersion: %s\nArchitecture: arm64\nMaintainer: t <t@example.org>\n%s\n%s\n' \
            "$p" "$version" 'Description: t' "$([ $p = kv-lib ] || echo 'Depends: kv-lib')" \
            | grep . >"$work/pkg/$p/DEBIAN/control"
        dpkg-deb -Zgzip --build "$work/pkg/$p" "$work/$name/${p}_${version}_arm64.deb" >/dev/null
    done
    (cd "$work/$name" && dpkg-scanpackages -m . >dists/kv/main/binary-arm64/Packages 2>/dev/null)
done

status=0
deb822='Types: deb\nURIs: file:@/two\nSuites: kv\nComponents: main\nTrusted: yes'
# case | sources.list (@: the work folder) | parts/x.sources | package folder | closure|fetched
while IFS='|' read -r name list sources debs want; do
    rm -rf "$work/parts" && mkdir "$work/parts" && echo "${list//@/$work}" >"$work/list"
    [ -z "$sources" ] || printf "${sources//@/$work}\n" >"$work/parts/x.sources"
    got=$( (. "$root/scripts/debian-arm64.sh"
            arm64_closure "$work/$debs" kv-app | paste -sd ' ' -
            fetch_debs "$work/$debs" kv-app >/dev/null && ls "$work/$debs" | grep 'deb$') 2>&1 |
        paste -sd '|' -) || true
    # shellcheck disable=SC2053 # the wanted text is a pattern
    [[ "$got" == ${want//@/$work} ]] || { echo "debian_arm64: $name: got '$got'" >&2; status=1; }
done <<CASES
sources.list|deb [trusted=yes] file:@/one kv main||a|kv-lib kv-app|kv-app_1.0_arm64.deb
a .sources file||$deb822|b|kv-lib kv-app|kv-app_2.0_arm64.deb
sources changed since the lists came|deb [trusted=yes] file:@/two kv main||a|kv-lib kv-app|kv-app_1.0_arm64.deb
a source limited to amd64|deb [arch=amd64 trusted=yes] file:@/one kv main||c|*no arm64 package list*file:@/one/dists/kv*
CASES
[ $status -ne 0 ] || echo "debian_arm64: packages come from the configured sources, in both formats, none from others"
exit $status
