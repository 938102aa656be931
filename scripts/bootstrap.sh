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
    lv2-dev lilv-utils sordi serdi ffmpeg
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    # Debian packages and their checks (scripts/build-debs.sh, scripts/check-abi.sh)
    debhelper help2man lintian abigail-tools
    # the arm64 cross build and its test run (scripts/cross-arm64.sh)
    crossbuild-essential-arm64 qemu-user
)
# Target libraries of the arm64 build, installed beside the native ones through multiarch.
cross_arch=arm64
cross_packages=(libgtest-dev libgmock-dev libsndfile1-dev)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

native_arch=$(dpkg --print-architecture)
if [ "$native_arch" = "$cross_arch" ]; then
    cross_arch=""
elif ! dpkg --print-foreign-architectures | grep -qx "$cross_arch"; then
    dpkg --add-architecture "$cross_arch"
    need_update=1
fi

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ -n "$cross_arch" ]; then
    for p in "${cross_packages[@]}"; do
        installed "$p:$cross_arch" || missing+=("$p:$cross_arch")
    done
fi
if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
    apt-get update -q
fi
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# yyjson 0.12.0 is not in Debian 12's suites. Its unstable packages depend only on libc6, so they
# are fetched from the mirror this system already uses, through a temporary source list that
# leaves the system's own apt configuration untouched; the arm64 build gets them the same way.
yyjson_wanted=0.12.0
yyjson_deb_version=0.12.0+ds-2

have_yyjson() {  # ARCH
    local v
    v=$(dpkg-query -W -f='${Status} ${Version}' "libyyjson-dev:$1" 2>/dev/null) || return 1
    case $v in "install ok installed "*) ;; *) return 1 ;; esac
    dpkg --compare-versions "${v##* }" ge "$yyjson_wanted"
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

yyjson_archs=()
for a in "$native_arch" $cross_arch; do
    if have_yyjson "$a"; then
        echo "bootstrap: yyjson $(dpkg-query -W -f='${Version}' "libyyjson-dev:$a") ($a) already installed"
    else
        yyjson_archs+=("$a")
    fi
done

if [ "${#yyjson_archs[@]}" -gt 0 ]; then
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
    # Native and cross copies must be the same version (Multi-Arch: same): fetch every
    # architecture's, even one already installed, so a newer fallback replaces them together.
    wanted=()
    for a in "$native_arch" $cross_arch; do
        wanted+=("libyyjson0:$a=$yyjson_deb_version" "libyyjson-dev:$a=$yyjson_deb_version")
    done
    (
        cd "$work"
        if ! apt-get "${apt_opts[@]}" download "${wanted[@]}"; then
            current=$(apt-cache "${apt_opts[@]}" policy libyyjson-dev |
                awk '/Candidate:/ { print $2 }')
            echo "bootstrap: yyjson $yyjson_deb_version is gone from unstable;" \
                 "installing its current version $current instead" >&2
            apt-get "${apt_opts[@]}" download "${wanted[@]%%=*}"
        fi
    )
    apt-get install -y -q "$work"/libyyjson0_*.deb "$work"/libyyjson-dev_*.deb
    echo "bootstrap: installed yyjson $(pkg-config --modversion yyjson)"
fi
