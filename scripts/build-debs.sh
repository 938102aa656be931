#!/usr/bin/env bash
# Builds the Debian packages from a clean copy of the work tree (the files git tracks or would
# track, as they are now; no build output) and checks them with lintian, which fails the run on
# any error. The .deb files land in OUT (default build-deb/).
#   scripts/build-debs.sh [OUT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-deb}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The package version is the library's: the symbols file and the changelog must agree on it.
# (the build takes its version from the QX_VERSION_* lines of the public header)
project=$(awk '/^#define QX_VERSION_(MAJOR|MINOR|PATCH) / { v = v (v == "" ? "" : ".") $3 }
               END { print v }' "$root/include/qx_common.h")
debian=$(cd "$root" && dpkg-parsechangelog -S Version)
if [ "$project" != "$debian" ]; then
    echo "build-debs: include/qx_common.h says $project, debian/changelog $debian:" \
         "add a debian/changelog entry for $project" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf -) | tar -xf - -C "$work/src"

(cd "$work/src" && dpkg-buildpackage -us -uc -b -j2)

rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out"/
# Lintian reads the package files it was given; --fail-on error is its default, spelt out.
lintian --fail-on error --info "$out"/*.changes
ls -1 "$out"/*.deb
