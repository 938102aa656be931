#!/usr/bin/env bash
# Builds the library, its tests and the tools for arm64 with Debian's cross toolchain and runs
# the whole test suite under qemu-user (cmake/aarch64-linux-gnu.cmake). Then checks what the
# suite cannot see from inside: the arm64 library and tool hold no fused multiply-add
# instruction, and the arm64 tool writes exactly the bytes the native one writes for the
# example clip (the suite's digests in tests/qxeq_bits_test.cpp check the float bits).
#   scripts/cross-arm64.sh [NATIVE]    (NATIVE: a native build folder, default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-$root/build}
build=$root/build-arm64

# The LV2 bundle and the transcode tests need host programs (ffmpeg, GStreamer, the LV2 tools)
# that load or run arm64 code, which an x86-64 machine has not: the cross build leaves them out.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
    -DQX_BUILD_LV2=OFF
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2

# aarch64 GCC fuses a*b + c into one rounding unless -ffp-contract=off reached every file.
for f in "$(readlink -f "$build/lib/libplayback-profile.so")" "$build/bin/playback-profile"; do
    fused=$(aarch64-linux-gnu-objdump -d "$f" | grep -E '\s(fn?madd|fn?msub|fmla|fmls)\s' || true)
    if [ -n "$fused" ]; then
        echo "cross-arm64: fused multiply-add in $f:" >&2
        printf '%s\n' "$fused" | head -n 20 >&2
        exit 1
    fi
done
echo "cross-arm64: no fused multiply-add in the library or the tool"

# The same commands on both machines, byte for byte: both sample paths, the response table and
# its plot.
if [ ! -x "$native/bin/playback-profile" ]; then
    cmake -S "$root" -B "$native" >/dev/null
    cmake --build "$native" -j2 --target playback-profile-cli
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip=$root/examples/demo-clip.wav

tool() {  # SIDE ARGS...: the native or the arm64 tool
    local side=$1
    shift
    if [ "$side" = native ]; then
        "$native/bin/playback-profile" "$@"
    else
        qemu-aarch64 "$build/bin/playback-profile" "$@"
    fi
}
same() {  # WHAT: the native and arm64 outputs in $work must be identical
    if ! cmp "$work/native" "$work/arm64"; then
        echo "cross-arm64: 'playback-profile $1' differs between $(uname -m) and arm64" >&2
        exit 1
    fi
}
n=0
for args in "--preset PS_rock" "--preset PS_bass_boost --format f32" \
            "--gain 0=24 --gain 7=-24 --format f32"; do
    for side in native arm64; do
        # shellcheck disable=SC2086
        tool $side eq "$clip" "$work/$side.wav" $args >/dev/null
        mv "$work/$side.wav" "$work/$side"
    done
    same "eq demo-clip.wav $args"
    n=$((n + 1))
done
for args in "--preset PS_rock --preset PS_pop" "--gain 3=12 --rate 8000"; do
    for side in native arm64; do
        # shellcheck disable=SC2086
        tool $side response $args >"$work/$side"
    done
    same "response $args"
    n=$((n + 1))
done
for side in native arm64; do
    tool $side response --preset PS_rock --preset PS_pop --svg "$work/$side.svg" >/dev/null
    mv "$work/$side.svg" "$work/$side"
done
same "response --preset PS_rock --preset PS_pop --svg"
n=$((n + 1))
echo "cross-arm64: $n commands give the same bytes on arm64 as on $(uname -m)"
