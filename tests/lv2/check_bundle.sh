#!/bin/sh
# The bundle as the LV2 tools see it: lv2_validate and sordi find no error in its Turtle files,
# lv2ls lists the four plugins, lv2info prints their ports and the sixteen presets, the module
# exports lv2_descriptor alone, and cmake --install puts a bundle that works the same way under
# ${libdir}/lv2/.
set -eu
build=$1
work=$2
preload=${3:-}  # a sanitizer build's runtime, which a host must load before the module
fail() { echo "check_bundle: $*" >&2; exit 1; }

check_bundle() {  # $1: the folder holding playback-profile-eq.lv2
    bundle=$1/playback-profile-eq.lv2
    for f in manifest.ttl eq.ttl presets.ttl playback-profile-eq.so; do
        [ -f "$bundle/$f" ] || fail "$bundle/$f is missing"
    done
    lv2_validate "$bundle"/*.ttl >"$work/validate.txt" 2>&1 || { cat "$work/validate.txt"; fail "lv2_validate failed"; }
    grep -q "Found 0 errors" "$work/validate.txt" || { cat "$work/validate.txt"; fail "lv2_validate found errors"; }
    ! grep -qi "warning" "$work/validate.txt" || { cat "$work/validate.txt"; fail "lv2_validate warned"; }
    for f in "$bundle"/*.ttl; do
        # sordi exits 0 on some errors: anything on its standard error fails the check
        sordi "$f" >/dev/null 2>"$work/sordi.txt" || fail "sordi $f failed"
        [ ! -s "$work/sordi.txt" ] || { cat "$work/sordi.txt"; fail "sordi reported on $f"; }
    done

    export LV2_PATH=$1
    listed=$(lv2ls | grep '^urn:playback-profile:eq#' | sort | tr '\n' ' ')
    [ "$listed" = "urn:playback-profile:eq#mono urn:playback-profile:eq#stereo urn:playback-profile:eq#surround51 urn:playback-profile:eq#surround71 " ] ||
        fail "lv2ls lists: $listed"
    for v in mono stereo surround51 surround71; do
        lv2info "urn:playback-profile:eq#$v" >"$work/info.txt" 2>"$work/info.err" || fail "lv2info $v failed"
        [ ! -s "$work/info.err" ] || { cat "$work/info.err"; fail "lv2info $v reported errors"; }
        for s in enable preset preamp g400 g620 g960 g1500 g2400 g3700 g6200 g9600; do
            grep -q "Symbol: *$s\$" "$work/info.txt" || fail "lv2info $v: no port $s"
        done
        presets=$(grep -c -E '^[[:space:]]+PS_[a-z_]+$' "$work/info.txt")
        [ "$presets" -eq 16 ] || fail "lv2info $v shows $presets presets"
        grep -q 'Designation: http://lv2plug.in/ns/lv2core#enabled' "$work/info.txt" ||
            fail "lv2info $v: enable is not the lv2:enabled port"
    done
    case $(grep -c 'Symbol: *in' "$work/info.txt") in 8) ;; *) fail "7.1 has no eight inputs";; esac
    # the class's name comes from LV2's own core bundle, in /usr/lib/lv2
    LV2_PATH=$1:/usr/lib/lv2 lv2info urn:playback-profile:eq#stereo |
        grep -q 'Class: *Multiband EQ Plugin$' || fail "lv2info shows no multiband EQ class"

    exports=$(nm -D --defined-only "$bundle/playback-profile-eq.so" |
        awk '$2 ~ /^[TtWwDdBbRrVvIi]$/ { print $3 }')
    [ "$exports" = "lv2_descriptor" ] || fail "the module exports: $exports"

    # the equaliser is inside the module: it loads with no library path, wherever it lies
    ! readelf -d "$bundle/playback-profile-eq.so" | grep -q 'NEEDED.*playback-profile' ||
        fail "the module needs the shared library"
    LD_PRELOAD=$preload ASAN_OPTIONS=${preload:+detect_leaks=0} \
        ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "sine=f=440:d=0.2" \
            -af 'lv2=p=urn\\:playback-profile\\:eq#mono:c=preset=12' -f null - ||
        fail "ffmpeg cannot run the bundle in $1"
}

rm -rf "$work"
mkdir -p "$work"
check_bundle "$build/lib/lv2"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
installed=$(find "$work/prefix" -type d -name playback-profile-eq.lv2 | head -n 1)
case $installed in
    "$work/prefix"/lib*/lv2/playback-profile-eq.lv2) ;;
    *) fail "installed bundle at '$installed', not under \${libdir}/lv2/" ;;
esac
check_bundle "$(dirname "$installed")"
echo "bundle checked, built and installed"
