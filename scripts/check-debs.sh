#!/usr/bin/env bash
# Installs the packages that scripts/build-debs.sh made, checks them the way a host developer
# would (a C program built against the -dev package through pkg-config and through CMake's
# find_package, the installed tool on the example clip), then removes them and every package
# their installation pulled in, and checks that the installed set is what it was before.
#   scripts/check-debs.sh [DIR]    (DIR holds the .deb files; default build-deb/)
set -euo pipefail
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
installed_set() {
    dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n' | LC_ALL=C sort
}
installed_set >"$work/before"

# Whatever happens below, the packages go again, with everything they brought along.
cleanup() {
    local status=$?
    installed_set >"$work/after"
    local added
    # Packages absent before (a changed version of one that was there is reported, not purged).
    added=$(awk 'NR == FNR { had[$2] = 1; next } !($2 in had) { print $2 }' \
        "$work/before" "$work/after")
    if [ -n "$added" ]; then
        # shellcheck disable=SC2086
        apt-get purge -y -q $added >/dev/null
    fi
    installed_set >"$work/after"
    if ! cmp -s "$work/before" "$work/after"; then
        echo "check-debs: the installed packages differ from before the check:" >&2
        diff "$work/before" "$work/after" >&2 || true
        status=1
    else
        echo "check-debs: removed again; installed packages as before"
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
