#!/bin/sh
# Every function the library exports is called by the C header check (tests/c_header_check.c),
# so a new export cannot skip being compiled and called from C.
set -eu
lib=$1
source=$2
missing=""
for name in $(nm -D --defined-only "$lib" | awk '$2 == "T" { sub(/@.*/, "", $3); print $3 }'); do
    grep -q "\\b$name(" "$source" || missing="$missing $name"
done
if [ -n "$missing" ]; then
    echo "exports not called from $source:$missing" >&2
    exit 1
fi
echo "every export is called from C"
