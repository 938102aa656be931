#!/bin/sh
# Installs the built library into a staging prefix, then builds and runs a small C host against
# it twice: once through pkg-config and once through find_package. EMULATOR, given for a cross
# build, runs the host.
#   check_install.sh BUILD WORK CC [EMULATOR]
set -eu
build=$1
work=$2
cc=$3
emulator=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libplayback-profile.so' | head -n 1)")

PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --exists playback-profile
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -o "$work/consumer-pc" "$here/consumer.c" \
    $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs playback-profile)
LD_LIBRARY_PATH="$libdir" $emulator "$work/consumer-pc"
# The README's advice for a custom prefix: an rpath, and the host starts without LD_LIBRARY_PATH.
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -o "$work/consumer-rpath" "$here/consumer.c" -Wl,-rpath,"$libdir" \
    $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs playback-profile)
env -u LD_LIBRARY_PATH $emulator "$work/consumer-rpath"

cmake -S "$here" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
LD_LIBRARY_PATH="$libdir" $emulator "$work/consumer-build/consumer"
