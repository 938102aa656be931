#!/usr/bin/env bash
# The eq command end to end against ffmpeg with eight peaking filters at the same centres, Q and
# gains as PS_rock (4 2 0 0 0 2 3 0 dB): a 10-minute 16-bit stereo 44.1 kHz WAV and a 5-minute
# 24-bit stereo FLAC, generated here. The commands run in interleaved rounds in a shuffled order,
# so a neighbour's load falls on all of them alike, and each is reported by its fastest run (wall
# clock, and user + system CPU) with the ratio ffmpeg / eq from the same run.
#
#   bench/eq_files_vs_ffmpeg.sh [-b BUILD_DIR] [-n ROUNDS] [-w WORK_DIR] [-x OTHER_EQ_BINARY]
#
# -x adds a second eq binary (an earlier build, say) to the same rounds.
set -euo pipefail

build=build
rounds=10
work=""
other=""
while getopts "b:n:w:x:" opt; do
    case $opt in
    b) build=$OPTARG ;;
    n) rounds=$OPTARG ;;
    w) work=$OPTARG ;;
    x) other=$OPTARG ;;
    *) exit 2 ;;
    esac
done
tool=$build/bin/playback-profile
[ -x "$tool" ] || { echo "bench: no $tool; build first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg not found (scripts/bootstrap.sh)" >&2; exit 1; }
if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

ff=(ffmpeg -nostdin -v error -y)
# Pink noise on the left, a 440 Hz tone on the right, about -10 dBFS: the boosts clip nothing.
if [ ! -s "$work/in16.wav" ]; then
    "${ff[@]}" -f lavfi -i "anoisesrc=d=600:c=pink:r=44100:a=0.3:s=1" \
        -f lavfi -i "sine=f=440:d=600:r=44100" \
        -filter_complex "[0][1]amerge=inputs=2,volume=0.8" -c:a pcm_s16le "$work/in16.wav"
fi
if [ ! -s "$work/in24.flac" ]; then
    "${ff[@]}" -f lavfi -i "anoisesrc=d=300:c=pink:r=44100:a=0.3:s=2" -ac 2 \
        -c:a flac -sample_fmt s32 "$work/in24.flac"
fi

filters=""
gains=(4 2 0 0 0 2 3 0)
centres=(400 620 960 1500 2400 3700 6200 9600)
for i in "${!centres[@]}"; do
    filters+="${filters:+,}equalizer=f=${centres[$i]}:t=q:w=0.8:g=${gains[$i]}"
done

# ffmpeg runs its filters on threads of their own by default; on a busy machine their hand-offs
# cost it more than they give, so it is timed with one filter thread as well (its _ft1 rows).
names=(eq_wav ffmpeg_wav ffmpeg_wav_ft1 eq_flac ffmpeg_flac ffmpeg_flac_ft1 ffmpeg_flac_nofilter)
cmds=(
    "$tool eq $work/in16.wav $work/out-eq.wav --preset PS_rock"
    "${ff[*]} -i $work/in16.wav -af $filters -c:a pcm_s16le $work/out-ff.wav"
    "${ff[*]} -filter_threads 1 -i $work/in16.wav -af $filters -c:a pcm_s16le $work/out-ff1.wav"
    "$tool eq $work/in24.flac $work/out-eq.flac --preset PS_rock"
    "${ff[*]} -i $work/in24.flac -af $filters -c:a flac -sample_fmt s32 $work/out-ff.flac"
    "${ff[*]} -filter_threads 1 -i $work/in24.flac -af $filters -c:a flac -sample_fmt s32 $work/out-ff1.flac"
    "${ff[*]} -i $work/in24.flac -c:a flac -sample_fmt s32 $work/out-ff-copy.flac"
)
if [ -n "$other" ]; then
    names+=(other_wav other_flac)
    cmds+=("$other eq $work/in16.wav $work/out-x.wav --preset PS_rock"
        "$other eq $work/in24.flac $work/out-x.flac --preset PS_rock")
fi

declare -A best_real best_cpu
TIMEFORMAT='%3R %3U %3S'
for ((r = 1; r <= rounds; r++)); do
    for i in $(shuf -i 0-$((${#cmds[@]} - 1))); do
        rm -f "$work"/out-*
        read -r -a cmd <<<"${cmds[$i]}"
        t=$({ time "${cmd[@]}" >/dev/null 2>"$work/stderr"; } 2>&1) ||
            { echo "bench: ${names[$i]} failed:" >&2; cat "$work/stderr" >&2; exit 1; }
        # Milliseconds, as integers: "1.234" becomes 1234.
        read -r real user sys <<<"${t//./}"
        real=$((10#$real)) cpu=$((10#$user + 10#$sys)) n=${names[$i]}
        if ((real < ${best_real[$n]:-999999999})); then best_real[$n]=$real; fi
        if ((cpu < ${best_cpu[$n]:-999999999})); then best_cpu[$n]=$cpu; fi
    done
done

s() { awk -v ms="$1" 'BEGIN { printf "%6.3f", ms / 1000 }'; }
ratio() { awk -v a="${best_real[$1]}" -v b="${best_real[$2]}" 'BEGIN { printf "%.2f", a / b }'; }
echo "fastest of $rounds runs, seconds: wall (user + system CPU)"
for n in "${names[@]}"; do
    printf '  %-21s %s (%s)\n' "$n" "$(s "${best_real[$n]}")" "$(s "${best_cpu[$n]}")"
done
echo "ffmpeg / eq, wall: WAV $(ratio ffmpeg_wav eq_wav)x, FLAC $(ratio ffmpeg_flac eq_flac)x"
echo "ffmpeg with one filter thread / eq, wall: WAV $(ratio ffmpeg_wav_ft1 eq_wav)x," \
    "FLAC $(ratio ffmpeg_flac_ft1 eq_flac)x"
if [ -n "$other" ]; then
    echo "other / eq, wall: WAV $(ratio other_wav eq_wav)x, FLAC $(ratio other_flac eq_flac)x"
fi
