#!/usr/bin/env bash
# Installs the packages that scripts/build-debs.sh made, checks them the way a host developer
# would (a C program built against the -dev package through pkg-config and through CMake's
# find_package, the installed tool on the example clip), then purges them and every package
# their installation pulled in, and checks that none of those is left.
#   scripts/check-debs.sh [DIR]    (DIR holds the .deb files; default build-deb/)
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "${1:-$root/build-deb}" && pwd)
ours=(libplayback-profile0 libplayback-profile-dev playback-profile)
debs=()
for p in "${ours[@]}"; do
    f=$(ls "$dir/${p}_"*.deb 2>/dev/null | head -n 1 || true)
    if [ -z "$f" ]; then
        echo "check-debs: no ${p}_*.deb in $dir: run scripts/build-debs.sh first" >&2
        exit 1
    fi
    debs+=("$f")
done
for p in "${ours[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'installed'; then
        echo "check-debs: $p is installed already; remove it first, this check must find the" \
             "machine without it" >&2
        exit 1
    fi
done

export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d)
# What installing them brings along, asked of apt first: exactly that is removed afterwards, so
# packages that others install on the machine meanwhile are left alone.
plan=$(apt-get install -s -q --no-install-recommends "${debs[@]}")
added=$(awk '$1 == "Inst" && $3 !~ /^\[/ { print $2 }' <<<"$plan")
upgraded=$(awk '$1 == "Inst" && $3 ~ /^\[/ { print $2 }' <<<"$plan")
if [ -n "$upgraded" ]; then
    echo "check-debs: installing would upgrade $(echo $upgraded), which removing could not undo;" \
         "upgrade them first" >&2
    exit 1
fi

# Whatever happens below, the packages go again, with everything they brought along.
cleanup() {
    local status=$? p left=""
    # shellcheck disable=SC2086
    apt-get purge -y -q $added >/dev/null
    for p in $added; do
        if dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -qv '^un\|^$'; then
            left="$left $p"
        fi
    done
    if [ -n "$left" ]; then
        echo "check-debs: still on the machine after removal:$left" >&2
        status=1
    else
        echo "check-debs: removed again:" $added
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

apt-get install -y -q --no-install-recommends "${debs[@]}" >/dev/null
echo "check-debs: installed ${ours[*]}"

# A C host through pkg-config, run without any search path: the loader finds the library.
cc -std=c99 -Wall -Werror -o "$work/host-pc" "$root/tests/install/consumer.c" \
    $(pkg-config --cflags --libs playback-profile)
"$work/host-pc"
# The host records the version node of each function it uses.
objdump -T "$work/host-pc" | grep -q 'PLAYBACK_PROFILE_0.*qxeq_set_preset'

# The same host through find_package, from the system's default prefixes alone.
cmake -S "$root/tests/install" -B "$work/host-cmake" >/dev/null
cmake --build "$work/host-cmake" >/dev/null
"$work/host-cmake/consumer"

# The installed tool on the example clip.
/usr/bin/playback-profile --version
/usr/bin/playback-profile eq "$root/examples/demo-clip.wav" "$work/rock.wav" --preset PS_rock
test -s "$work/rock.wav"
/usr/bin/playback-profile profile args "$root/examples/phone-720p.json"
man -w playback-profile >/dev/null 2>&1 || test -f /usr/share/man/man1/playback-profile.1.gz
echo "check-debs: the installed packages work"
