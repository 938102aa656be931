#!/bin/sh
# Times the LV2 plugin inside ffmpeg against ffmpeg's own eight `equalizer` filters with the
# same centres, Q and gains, on one stereo float file (ten minutes by default), in one run of
# this script: each chain and a baseline run REPEATS times, interleaved, and the fastest of each
# counts. The baseline decodes and converts to planar float, as both chains do before their
# filters. Prints CPU (user) and wall seconds, the same minus the baseline, and the plugin's
# speed-up.
#
#   bench/lv2_vs_equalizer.sh [BUILD-DIR [SECONDS [REPEATS]]]    # defaults: build 600 5
set -eu
build=${1:-build}
seconds=${2:-600}
repeats=${3:-5}
[ -d "$build/lib/lv2/playback-profile-eq.lv2" ] || {
    echo "no bundle in $build/lib/lv2: build the project first" >&2
    exit 1
}
LV2_PATH=$(cd "$build/lib/lv2" && pwd)
export LV2_PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
    -i "anoisesrc=d=$seconds:r=48000:a=0.25:c=pink,aformat=sample_fmts=flt:channel_layouts=stereo" \
    -c:a pcm_f32le "$work/in.wav"

# one gain per band, none of them 0 dB, so every filter of both chains does real work
set -- 400:4 620:2 960:-2 1500:1 2400:3 3700:2 6200:4 9600:-3
eq8=""
controls="preset=1"
for band in "$@"; do
    f=${band%%:*} g=${band#*:}
    eq8="$eq8${eq8:+,}equalizer=f=$f:t=q:w=0.8:g=$g"
    controls="$controls|g$f=$g"
done
plugin="lv2=p=urn\\\\:playback-profile\\\\:eq#stereo:c=$controls"

# prints "user wall" in seconds for one ffmpeg run of the filter chain $1 with $2 filter threads
# (equalizer splits its channels over threads; the plugin runs on one)
run_chain() {
    ffmpeg -nostdin -hide_banner -benchmark -filter_threads "$2" -i "$work/in.wav" -af "$1" \
        -f null - 2>&1 |
        sed -n 's/^bench: utime=\([0-9.]*\)s .*rtime=\([0-9.]*\)s.*/\1 \2/p'
}

best() {  # $1: previous "user wall" (or empty), $2: new; keeps the smaller of each
    if [ -z "$1" ]; then echo "$2"; return; fi
    echo "$1 $2" | awk '{ u = $1 < $3 ? $1 : $3; w = $2 < $4 ? $2 : $4; print u, w }'
}

base="" eq="" eq1="" lv2=""
i=0
while [ "$i" -lt "$repeats" ]; do
    base=$(best "$base" "$(run_chain aformat=sample_fmts=fltp 1)")
    eq=$(best "$eq" "$(run_chain "$eq8" "$(nproc)")")
    eq1=$(best "$eq1" "$(run_chain "$eq8" 1)")
    lv2=$(best "$lv2" "$(run_chain "$plugin" 1)")
    i=$((i + 1))
done

echo "$seconds s of 48 kHz stereo float, fastest of $repeats runs each ($(nproc) CPUs)"
echo "$base $eq $eq1 $lv2" | awk '{
    printf "%-32s %8s %8s %14s %14s\n", "chain", "user s", "wall s", "user-decode s", "wall-decode s"
    printf "%-32s %8.3f %8.3f\n", "decode to planar (aformat)", $1, $2
    printf "%-32s %8.3f %8.3f %14.3f %14.3f\n", "8 x equalizer, filter threads", $3, $4, $3 - $1, $4 - $2
    printf "%-32s %8.3f %8.3f %14.3f %14.3f\n", "8 x equalizer, one thread", $5, $6, $5 - $1, $6 - $2
    printf "%-32s %8.3f %8.3f %14.3f %14.3f\n", "lv2 plugin (stereo)", $7, $8, $7 - $1, $8 - $2
    printf "speed-up of the plugin, decode subtracted: %.1fx user, %.1fx wall against filter threads;" \
        " %.1fx user, %.1fx wall against one thread\n", ($3 - $1) / ($7 - $1), ($4 - $2) / ($8 - $2),
        ($5 - $1) / ($7 - $1), ($6 - $2) / ($8 - $2)
}'
