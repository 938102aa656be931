#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a bounded time from its seed corpus.
#
#   fuzz/run.sh [-t seconds] [-b build-dir] [target...] [-- libFuzzer options...]
#
# seconds: per target, 60 by default. build-dir: a build configured with -DQX_BUILD_FUZZ=ON
# (build-fuzz by default; see the README). Targets are eq, json, profile_ops and lv2. New inputs
# go to <build-dir>/fuzz-work/<target>/corpus, so the seeds under fuzz/corpus/ stay as committed
# and a longer session can resume from what earlier ones found. A crash, an invariant failure, a
# sanitizer report, a leak or a timeout stops the run with status 1 and leaves the input in
# <build-dir>/fuzz-work/<target>/artifacts/; copy it into fuzz/corpus/<target>/ once it is fixed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

seconds=60
build="$here/../build-fuzz"
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        -t) seconds=$2; shift 2 ;;
        -b) build=$2; shift 2 ;;
        --) shift; break ;;
        -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done
extra=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(eq json profile_ops lv2)
build=$(cd "$build" && pwd)

for t in "${targets[@]}"; do
    bin="$build/bin/${t}_fuzzer"
    seeds="$here/corpus/$t"
    if [ ! -x "$bin" ]; then
        echo "fuzz: $bin not built (cmake --build $build --target fuzzers)" >&2
        exit 1
    fi
    work="$build/fuzz-work/$t"
    mkdir -p "$work/corpus" "$work/artifacts"
    dict=()
    [ -f "$here/$t.dict" ] && dict=(-dict="$here/$t.dict")
    echo "fuzz: $t for ${seconds}s from $seeds"
    status=0
    "$bin" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${dict[@]}" "${extra[@]}" \
        "$work/corpus" "$seeds" >"$work/log" 2>&1 || status=$?
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$work/log")
    rate=$(awk '/stat::average_exec_per_sec/ { print $2 }' "$work/log")
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$work/log" >&2
        echo "fuzz: $t FAILED (status $status); inputs in $work/artifacts/" >&2
        exit 1
    fi
    found=$(find "$work/corpus" -type f | wc -l)
    echo "fuzz: $t passed: ${runs:-?} runs in ${seconds}s (${rate:-?}/s), corpus $found inputs"
done
