#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing and the demo; nothing else.
# `setup.sh device` adds the cross toolchain of the device build check (make check-device);
# `setup.sh arm64` the cross compiler and emulator of make test-arm64.
# One line per step; a failing step shows its command's last lines and the likely reason.
set -euo pipefail
cd "$(dirname "$0")/.."

# bsdutils gives script, with which CI runs make test at a terminal; Debian always has it, unless
# someone removed it.
packages=(build-essential cmake pkg-config clang libclang-rt-14-dev
          libavutil-dev libavformat-dev libavcodec-dev ffmpeg
          libgtest-dev clang-format bsdutils)
if [ "${1:-}" = device ]; then
    packages+=(clang-19 libc++-19-dev lld-19)
elif [ "${1:-}" = arm64 ]; then
    packages+=(g++-aarch64-linux-gnu qemu-user-static)
fi

say() { echo "setup: $*"; }

# A make run as another user (root, say) leaves files this user cannot replace; the build would
# stop later on "Permission denied", far from the cause.
me=$(id -un)
foreign=()
for dir in node_modules build build-*; do
    [ -e "$dir" ] || continue
    stranger=$(find "$dir" ! -user "$(id -u)" -print -quit 2>/dev/null) || true
    [ -n "$stranger" ] || continue
    foreign+=("$dir")
    owner=$(stat -c %U "$stranger" 2>/dev/null) || owner="another user"
done
if [ ${#foreign[@]} -gt 0 ]; then
    say "FAILED: ${foreign[*]} in $(pwd) hold files of $owner, not of $me (a make run as $owner" \
        "left them); two users building in one clone break each other's builds."
    say "Go on as $owner, or give them back to $me as root: chown -R $me: ${foreign[*]}" \
        "(or remove them: rm -rf ${foreign[*]}), then run make again as $me."
    exit 1
fi

# The step's full output goes here; only a failure shows it.
out=$(mktemp "${TMPDIR:-/tmp}/kavori-setup.XXXXXX")
trap 'stop_watcher; rm -f "$out"' EXIT

# A one-line guess at why a step failed, from the last lines of its output (the earlier ones list
# package names such as ca-certificates that would mislead the match).
reason() {
    local tail
    tail=$(tail -n 25 "$out")
    has() { grep -qiE "$1" <<<"$tail"; }
    if has 'no space left|ENOSPC|not enough free space'; then
        echo "the disk is full (df -h shows where)"
    elif has 'self.signed certificate|SELF_SIGNED_CERT|UNABLE_TO_(GET_ISSUER|VERIFY)|unable to get local issuer|CERT_HAS_EXPIRED|certificate (has expired|verif)|SSL routines'; then
        echo "a TLS certificate was refused: a proxy in this network may replace certificates;" \
             "as root, put its CA (a .crt file) into /usr/local/share/ca-certificates and run" \
             "update-ca-certificates, which is enough for apt and Debian's node, then run make again"
    elif has 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|EHOSTUNREACH|Temporary failure resolving|Could not resolve|Unable to connect|Failed to fetch|Connection (refused|timed out)|Network is unreachable'; then
        echo "the network: the package registry could not be reached (check the connection," \
             "a proxy setting, or the registry named above)"
    elif has 'are you root|Permission denied|EACCES|not in the sudoers|password is required'; then
        echo "missing rights: run as root or through a working sudo"
    elif has 'Unable to locate package|has no installation candidate'; then
        echo "a package is unknown to apt: is this Debian 12, with its main component in the sources?"
    elif has 'dpkg was interrupted|Could not get lock'; then
        echo "apt/dpkg is busy or was interrupted: wait for the other run, or run dpkg --configure -a"
    else
        echo "not recognised: read the lines above"
    fi
}

# What apt is doing, from its output so far: the phase, how far it is, the item at hand.
apt_doing() {
    awk -v total="$(sed -n 's/.* \([0-9]*\) newly installed.*/\1/p' "$out")" '
        /^Get:/ { phase = "downloading"; n = ++got; item = $5 ~ /^\[/ ? $3 " " $4 : $5 }
        /^Unpacking / { phase = "unpacking"; n = ++unpacked; item = $2 }
        /^Setting up / { phase = "setting up"; n = ++configured; item = $3 }
        { last = $0 }
        END {
            if (phase == "") { print "waiting for apt: " substr(last, 1, 60); exit }
            print phase " (" n (total ? " of " total : "") "): " item
        }' "$out"
}

# What npm is doing, from its http log so far: how many packages it has fetched, the last one, and
# a request that failed and will be tried again.
npm_doing() {
    awk -v total="$count" '
        / http fetch GET [0-9]+ .*\.tgz / { n++; item = $6; sub(/.*\//, "", item); sub(/\.tgz$/, "", item) }
        / attempt [0-9]+ failed with / { retry = $0; sub(/.* fetch GET /, "", retry) }
        { last = $0 }
        END {
            if (n == 0 && retry == "") {
                print "waiting for npm: " (last == "" ? "no request answered yet" : substr(last, 1, 60))
                exit
            }
            print "fetched " n + 0 " of " total (item ? ": " item : "") (retry ? "; " retry : "")
        }' "$out"
}

# The one line that tells why a step failed, shown before its tail: the request that failed and
# its reason (npm), or apt's first error.
telling() {
    grep -m1 -E 'request to .* failed|^E: ' "$out" || grep -m1 -E '^npm (ERR!|error) ' "$out" || true
}

# Runs a step's command with its output kept aside; on failure shows the telling line, its tail
# and the reason. With watch set, says every 10 s what the step is doing: a long step must not
# look hung.
run() {
    local what=$1 status=0 line
    shift
    if [ -n "${watch:-}" ]; then
        # Ends with this script even when a signal skips the EXIT trap.
        (trap 'kill $nap 2>/dev/null; exit' TERM
         while sleep 10 & nap=$! && wait $nap && kill -0 $$ 2>/dev/null; do
             say "$what: $((SECONDS - start)) s, $($watch)"
         done) &
        watcher=$!
    fi
    "$@" >"$out" 2>&1 || status=$?
    stop_watcher
    [ "$status" -ne 0 ] || return 0
    say "FAILED: $what (exit $status): $*"
    line=$(telling)
    [ -z "$line" ] || say "  $line"
    tail -n 25 "$out" | sed 's/^/  | /'
    say "reason: $(reason)"
    exit 1
}
watcher=
stop_watcher() {
    [ -z "$watcher" ] || kill "$watcher" 2>/dev/null || true
    watcher=
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The tests run node --test with --test-concurrency, there since Node.js 18.19 (20.10 on 20), which
# Debian 12's current release has (it shipped 18.13); the module needs Node-API 8, which every such
# node has. The Node-API headers come from npm.
node_need="Node.js 18.19 or later (20.10 on 20): make test runs node --test --test-concurrency"
node_fits() { command -v node >/dev/null && node --test-concurrency=1 -e 0 >/dev/null 2>&1; }
node_found() { echo "node $(node --version 2>/dev/null) at $(command -v node)"; }
if command -v node >/dev/null && ! node_fits; then
    # apt upgrades only its own node; one installed otherwise may come first in PATH anyway.
    if ! dpkg -S "$(readlink -f "$(command -v node)")" >/dev/null 2>&1; then
        say "FAILED: $(node_found) is too old: the tests need $node_need."
        say "It was not installed by apt, so setup leaves it: upgrade it, or put a newer node" \
            "first in PATH, then run make again."
        exit 1
    fi
    say "node: $(node_found) is too old (the tests need $node_need): apt upgrades it"
    missing+=(nodejs npm)
elif ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi
if [ ${#missing[@]} -eq 0 ]; then
    say "apt: all ${#packages[@]} packages present"
else
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            say "apt: ${#missing[@]} packages missing (${missing[*]})"
            say "FAILED: installing them needs root, and this user is not root and has no sudo."
            say "As root, install the packages:"
            say "  apt-get update && apt-get install -y ${missing[*]}"
            say "then run the same make command again as yourself (a make run as root would leave" \
                "root's files in build/ and node_modules/). Or install sudo for this user."
            exit 1
        fi
        sudo_cmd=(sudo)
        # Asked here, before the steps' output is captured and their progress lines start.
        sudo -n true 2>/dev/null || { say "apt: sudo asks for your password to install"; sudo -v; }
    fi
    installed() { dpkg-query -W -f='${Status}\n' 2>/dev/null | grep -c "install ok installed"; }
    before=$(installed)
    start=$SECONDS
    say "apt: installing ${#missing[@]} missing packages and their dependencies" \
        "(${missing[*]}); a fresh machine takes a few minutes"
    watch=apt_doing
    run "apt-get update" "${sudo_cmd[@]}" apt-get update
    # apt-get update succeeds on lists it could not fetch; what it could not fetch may explain
    # a failed install.
    if grep -q '^W: Failed to fetch' "$out"; then
        say "apt: warning: $(grep -c '^W: Failed to fetch' "$out") package lists not updated," \
            "e.g. $(grep -m1 '^W: Failed to fetch' "$out" | cut -c 4-)"
    fi
    run "apt-get install" "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y "${missing[@]}"
    watch=
    say "apt: done, $(($(installed) - before)) packages installed in $((SECONDS - start)) s"
fi
if ! node_fits; then
    say "FAILED: $(node_found) after apt, the newest this machine's apt sources offer" \
        "($(apt-cache policy nodejs 2>/dev/null | sed -n 's/^ *Candidate: //p'))," \
        "and the tests need $node_need."
    say "Debian 12's current release and its security updates have 18.20: point the apt" \
        "sources at a current Debian 12 mirror, or install a newer Node.js another way, then run" \
        "make again."
    exit 1
fi

# Again whenever the lock file changed since the last install (npm rewrites its own copy).
count=$(node -e 'console.log(Object.keys(require("./package-lock.json").packages)
    .filter((p) => p.startsWith("node_modules/")).length)')
if [ package-lock.json -nt node_modules/.package-lock.json ]; then
    start=$SECONDS
    say "npm: installing the $count packages of package-lock.json into node_modules" \
        "from $(npm config get registry)"
    # The http log gives the progress lines; npm's own bar would go to no terminal.
    watch=npm_doing
    run "npm ci" npm ci --no-audit --no-fund --no-progress --loglevel=http
    watch=
    say "npm: done in $((SECONDS - start)) s"
else
    say "npm: the $count packages of package-lock.json are installed"
fi
