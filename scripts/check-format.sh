#!/usr/bin/env bash
# Fails when a C or C++ file of the library, its tests, tools, plugins, benchmarks, fuzz targets
# or examples differs from what the project's .clang-format makes of it, and names the files.
# Run with --fix to format them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -- 'src/*.c' 'src/*.cpp' 'src/*.h' 'include/*.h' \
    'tests/*.c' 'tests/*.cpp' 'tests/*.h' 'tools/*.c' 'tools/*.cpp' 'tools/*.h' \
    'plugins/*.c' 'plugins/*.cpp' 'plugins/*.h' 'bench/*.cpp' 'fuzz/*.cpp' 'fuzz/*.h' \
    'examples/*.c')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
bad=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ "${#bad[@]}" -gt 0 ]; then
    echo "check-format: these files differ from .clang-format (scripts/check-format.sh --fix):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
