#!/bin/sh
# The library exports only its own qx_, qxeq_ and qxtp_ functions.
set -eu
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRrVvIi]$/ { print $3 }')
if [ -z "$symbols" ]; then
    echo "no exported symbols found in $lib" >&2
    exit 1
fi
stray=$(printf '%s\n' "$symbols" | grep -Ev '^(qx|qxeq|qxtp)_' || true)
if [ -n "$stray" ]; then
    echo "unexpected exports in $lib:" >&2
    printf '%s\n' "$stray" >&2
    exit 1
fi
echo "$(printf '%s\n' "$symbols" | wc -l) exports, all qx_/qxeq_/qxtp_"
