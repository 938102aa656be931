#!/usr/bin/env bash
# Records the library's current ABI as the baseline CI compares against (abi/<SONAME>.abi) and
# rewrites the Debian symbols file from the same build. Run it deliberately: after adding
# exports, once they are reviewed, or after raising the SONAME (see README, "ABI").
# Symbols already in the file keep the version they first appeared in; new ones get the
# project's current version with a tilde (0.2.0~ sorts just before 0.2.0): dpkg-gensymbols
# fails on a missing symbol only when the package is newer than the symbol's version, and the
# tilde makes that hold from the first build of the version that adds it.
#   scripts/update-abi-baseline.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/abi"
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

soname=$("$root/scripts/abi-dump.sh" "$tmp")
mv "$tmp" "$root/abi/$soname.abi"
chmod 644 "$root/abi/$soname.abi"
echo "wrote abi/$soname.abi"

# libplayback-profile.so.N is shipped by the package libplayback-profileN.
package=$(printf '%s' "$soname" | sed -E 's/^(.*)\.so\.([0-9]+)$/\1\2/')
symbols=$root/debian/$package.symbols
if ! grep -q "^Package: $package\$" "$root/debian/control"; then
    echo "debian/control has no package $package for $soname: rename the library package" >&2
    exit 1
fi
version=$(awk -F= '$1 == "CMAKE_PROJECT_VERSION:STATIC" { print $2 }' "$root/build-abi/CMakeCache.txt")
lib=$(readlink -f "$root/build-abi/lib/libplayback-profile.so")
{
    printf '%s %s #MINVER#\n' "$soname" "$package"
    printf '* Build-Depends-Package: libplayback-profile-dev\n'
    # Every defined dynamic symbol as name@node, and each node's own symbol as node@node, sorted;
    # minimum versions come from the previous file where it lists the symbol.
    nm -D --defined-only "$lib" |
        awk '$3 ~ /@/ { sub(/@@?/, "@", $3); print $3; next } $2 == "A" { print $3 "@" $3 }' |
        LC_ALL=C sort |
        awk -v v="$version~" -v old="$symbols" '
            BEGIN { while ((getline line < old) > 0) if (split(line, f, " ") == 2 && line ~ /^ /)
                        seen[f[1]] = f[2] }
            { printf " %s %s\n", $1, ($1 in seen) ? seen[$1] : v }'
} >"$symbols.new"
mv "$symbols.new" "$symbols"
echo "wrote debian/$package.symbols ($(grep -c '^ ' "$symbols") symbols)"
