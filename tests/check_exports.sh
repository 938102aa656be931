#!/bin/sh
# The library exports only its own qx_, qxeq_ and qxtp_ functions, each under the version node
# NODE that src/playback-profile.map gives them. NM is the nm for the library's architecture.
set -eu
lib=$1
node=$2
nm=${3:-nm}
symbols=$("$nm" -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRrVvIi]$/ { print $3 }')
if [ -z "$symbols" ]; then
    echo "no exported symbols found in $lib" >&2
    exit 1
fi
stray=$(printf '%s\n' "$symbols" | grep -Ev '^(qx|qxeq|qxtp)_[A-Za-z0-9_]+@@?'"$node"'$' || true)
if [ -n "$stray" ]; then
    echo "exports in $lib outside qx_/qxeq_/qxtp_ or without version $node:" >&2
    printf '%s\n' "$stray" >&2
    exit 1
fi
echo "$(printf '%s\n' "$symbols" | wc -l) exports, all qx_/qxeq_/qxtp_ at $node"
