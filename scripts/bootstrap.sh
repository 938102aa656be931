#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need on a fresh Debian 12 machine.
# Run as root; safe to run again (apt-get skips what is installed, yyjson is skipped when present).
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        exec sudo "$0" "$@"
    fi
    echo "bootstrap: run as root (it installs packages with apt-get)" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive

packages=(
    build-essential cmake pkg-config git ca-certificates
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev llvm valgrind
    libsndfile1-dev libcli11-dev libxml2-utils
    ffmpeg
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# yyjson 0.12.0 is not in Debian 12's suites. Its unstable packages depend only on libc6, so they
# are fetched from the mirror this system already uses, through a temporary source list that
# leaves the system's own apt configuration untouched.
yyjson_wanted=0.12.0
yyjson_deb_version=0.12.0+ds-2

have_yyjson() {
    local v
    v=$(pkg-config --modversion yyjson 2>/dev/null) || return 1
    dpkg --compare-versions "$v" ge "$yyjson_wanted"
}

system_mirror() {
    local m=""
    if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
        m=$(awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' \
            /etc/apt/sources.list.d/*.sources | grep -v -- '-security' | head -n 1)
    fi
    if [ -z "$m" ] && [ -f /etc/apt/sources.list ]; then
        m=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' \
            /etc/apt/sources.list | grep -v -- '-security' | head -n 1)
    fi
    printf '%s' "$m"
}

if have_yyjson; then
    echo "bootstrap: yyjson $(pkg-config --modversion yyjson) already installed"
else
    mirror=$(system_mirror)
    if [ -z "$mirror" ]; then
        echo "bootstrap: no Debian mirror found in /etc/apt/sources.list.d or /etc/apt/sources.list" >&2
        exit 1
    fi
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/lists/partial"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror sid main" \
        >"$work/sid.list"
    apt_opts=(-o "Dir::Etc::sourcelist=$work/sid.list" -o "Dir::Etc::sourceparts=-"
              -o "Dir::State::Lists=$work/lists" -o "APT::Get::List-Cleanup=0")
    apt-get "${apt_opts[@]}" update -q
    (
        cd "$work"
        if ! apt-get "${apt_opts[@]}" download \
                "libyyjson0=$yyjson_deb_version" "libyyjson-dev=$yyjson_deb_version"; then
            current=$(apt-cache "${apt_opts[@]}" policy libyyjson-dev |
                awk '/Candidate:/ { print $2 }')
            echo "bootstrap: yyjson $yyjson_deb_version is gone from unstable;" \
                 "installing its current version $current instead" >&2
            apt-get "${apt_opts[@]}" download libyyjson0 libyyjson-dev
        fi
    )
    apt-get install -y -q "$work"/libyyjson0_*.deb "$work"/libyyjson-dev_*.deb
    echo "bootstrap: installed yyjson $(pkg-config --modversion yyjson)"
fi
