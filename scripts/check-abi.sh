#!/usr/bin/env bash
# Compares the library built from this tree with the committed ABI baseline for its SONAME and
# fails on any incompatible change: a removed or changed function or variable, a changed type,
# a changed version node. New functions are allowed and listed.
#   scripts/check-abi.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

soname=$("$root/scripts/abi-dump.sh" "$tmp/current.abi")
baseline=$root/abi/$soname.abi
if [ ! -f "$baseline" ]; then
    echo "check-abi: no baseline abi/$soname.abi for this SONAME; after a deliberate SONAME" \
         "change run scripts/update-abi-baseline.sh and commit its output" >&2
    exit 1
fi

# abidiff's status is a bit set: 1 error, 2 usage, 4 some change, 8 an incompatible one. It sets
# only 4 for a changed type (it cannot tell whether that is compatible), so a change is judged
# again with additions left out: if nothing remains, additions were all that changed.
status=0
abidiff "$baseline" "$tmp/current.abi" >"$tmp/report" || status=$?
if [ "$status" -eq 0 ]; then
    echo "check-abi: $soname matches abi/$soname.abi"
    exit 0
fi
cat "$tmp/report"
if [ $((status & 3)) -ne 0 ]; then
    echo "check-abi: abidiff failed (status $status)" >&2
    exit 1
fi
rest=0
abidiff --no-added-syms "$baseline" "$tmp/current.abi" >"$tmp/rest" || rest=$?
if [ $((status & 8)) -ne 0 ] || [ "$rest" -ne 0 ]; then
    echo "check-abi: incompatible change against abi/$soname.abi (status $status)." \
         "Restore the interface, or raise the SONAME and record a new baseline" >&2
    exit 1
fi
echo "check-abi: $soname only adds to abi/$soname.abi; record them with" \
     "scripts/update-abi-baseline.sh when they are final"
