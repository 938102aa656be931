#!/usr/bin/env bash
# Builds the shared library alone (with debug information, in build-abi/) and writes its ABI as
# abidw describes it to OUT: the exported functions with their version nodes and every type the
# public headers declare. Prints the library's SONAME. The baseline and the check both come from
# here, so they are always read the same way.
#   scripts/abi-dump.sh OUT
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
build=$root/build-abi

# Source paths relative to the tree, so the dump does not depend on where the clone lives.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root/=" -DCMAKE_C_FLAGS="-ffile-prefix-map=$root/=" \
    -DQX_BUILD_TESTS=OFF -DQX_BUILD_TOOLS=OFF -DQX_BUILD_BENCH=OFF -DQX_BUILD_FUZZ=OFF \
    -DQX_SANITIZE= >/dev/null
cmake --build "$build" -j2 --target playback-profile >/dev/null

lib=$(readlink -f "$build/lib/libplayback-profile.so")
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
abidw --headers-dir "$root/include" --drop-private-types --no-corpus-path --no-comp-dir-path \
    --no-show-locs --type-id-style hash --out-file "$out" "$lib"
echo "$soname"
