# Sourced. Debian's arm64 package files, fetched into a folder of the build through an apt state
# of their own there (sources, lists, cache): nothing is installed and the system's apt is not
# touched.
#   arm64_apt DEBS               sets arm64_apt_args, the apt-get options of that state
#   fetch_debs DEBS PACKAGE...   downloads those of the packages not yet in DEBS
#   arm64_closure DEBS PACKAGE...  prints the packages with all they depend on (no recommends)
arm64_apt() {
    local state=$1/apt codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d"
    echo "deb [arch=arm64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
        "http://deb.debian.org/debian $codename main" >"$state/sources.list"
    arm64_apt_args=(-q -o Dir::Etc::SourceList="$state/sources.list"
        -o Dir::Etc::SourceParts="$state/sources.list.d" -o Dir::State::Lists="$state/lists"
        -o Dir::Cache="$state/cache" -o Dir::State::status=/dev/null
        -o APT::Architecture=arm64 -o APT::Architectures=arm64 -o APT::Sandbox::User="$(id -un)")
    # Lists are fetched once per folder; a rerun with all its files present needs no network.
    compgen -G "$state/lists/*_Packages*" >/dev/null || apt-get "${arm64_apt_args[@]}" update >/dev/null
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
        apt-get "${arm64_apt_args[@]}" update >/dev/null
        (cd "$debs" && apt-get "${arm64_apt_args[@]}" download "${wanted[@]}" >/dev/null)
    }
}

arm64_closure() {
    local debs=$1
    shift
    arm64_apt "$debs"
    apt-get "${arm64_apt_args[@]}" -s install --no-install-recommends "$@" | awk '/^Inst /{ print $2 }'
}
