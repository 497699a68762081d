# Sourced. Debian's arm64 package files, fetched into a folder of the build through an apt state
# of their own there (lists, cache) from the system's own apt sources: nothing is installed and the
# system's apt state is not touched.
#   arm64_apt DEBS               sets arm64_apt_args, the apt-get options of that state
#   fetch_debs DEBS PACKAGE...   downloads those of the packages not yet in DEBS
#   arm64_closure DEBS PACKAGE...  prints the packages with all they depend on (no recommends)
arm64_apt() {
    local state=$1/apt
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
    # Sources are apt's own reading of sources.list, sources.list.d (.list and .sources) and its
    # configuration: the mirror, proxy and keys this machine is set up for. A source limited to
    # other architectures is left out by apt itself.
    arm64_apt_args=(-q -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache"
        -o Dir::State::status=/dev/null
        -o APT::Architecture=arm64 -o APT::Architectures=arm64 -o APT::Sandbox::User="$(id -un)")
    # Lists are fetched once per folder and set of sources; a rerun with them present needs no
    # network.
    [ -n "$(arm64_lists)" ] || arm64_update
}

# The package lists of the configured sources that are present in the state.
arm64_lists() {
    local f
    apt-get "${arm64_apt_args[@]}" indextargets --format '$(FILENAME)' 'Created-By: Packages' \
        2>/dev/null | while read -r f; do if [ -e "$f" ]; then echo "$f"; fi; done
}

# apt's notes on sources without arm64 packages would only be noise; its errors show, and the
# lists that did come are enough to go on with.
arm64_update() {
    { apt-get "${arm64_apt_args[@]}" update 2>&1 >/dev/null || true; } |
        { grep -v '^N: ' >&2 || true; }
    [ -z "$(arm64_lists)" ] || return 0
    echo "debian-arm64: no arm64 package list came from this system's apt sources" \
        "($(apt-get "${arm64_apt_args[@]}" --print-uris update 2>/dev/null |
            sed -n "s|^'\(.*\)/InRelease'.*|\1|p" | paste -sd ' ' -))." \
        "Debian's archive or a mirror of it must be among them, reachable, and not limited to" \
        "other architectures (arch=, Architectures:)." >&2
    return 1
}

fetch_debs() {
    local debs=$1 wanted=() p
    shift
    mkdir -p "$debs"
    for p in "$@"; do compgen -G "$debs/${p}_*.deb" >/dev/null || wanted+=("$p"); done
    [ ${#wanted[@]} -eq 0 ] && return 0
    arm64_apt "$debs"
    echo "fetch_debs: fetching ${#wanted[@]} arm64 packages into $debs"
    # Lists kept from an earlier run may name versions the mirror no longer has.
    (cd "$debs" && apt-get "${arm64_apt_args[@]}" download "${wanted[@]}" >/dev/null 2>&1) || {
        arm64_update
        (cd "$debs" && apt-get "${arm64_apt_args[@]}" download "${wanted[@]}" >/dev/null)
    }
}

arm64_closure() {
    local debs=$1
    shift
    arm64_apt "$debs"
    apt-get "${arm64_apt_args[@]}" -s install --no-install-recommends "$@" | awk '/^Inst /{ print $2 }'
}
