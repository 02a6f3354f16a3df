#!/bin/sh
# Installs the build into a temporary DESTDIR under several prefixes, checks
# the exact list of files and validates the menu entry and the software-centre
# description there, then uninstalls with `make uninstall` and checks that
# exactly the installed files are gone.
#   install_test.sh <build dir> <source dir>
# Exit 77 (reported as skipped) when a validator is not installed.
set -eu

build=$1
source=$2
# Run from `make test`, the outer make's job server is not ours to use.
unset MAKEFLAGS MFLAGS MAKELEVEL

for tool in appstreamcli desktop-file-validate man; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (tools/install-deps.sh installs it)"
        exit 77
    fi
done

work=$(mktemp -d /tmp/tassio-install-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# A plain `cmake --install` rewrites the build's install_manifest.txt, which
# `make uninstall` needs for a real installation made earlier. The test runs
# the same install script with the manifest going into its own folder.
sed "s|file(WRITE \"$build/\${CMAKE_INSTALL_MANIFEST}\"|file(WRITE \"$work/\${CMAKE_INSTALL_MANIFEST}\"|" \
    "$build/cmake_install.cmake" >"$work/cmake_install.cmake"
grep -q "file(WRITE \"$work/" "$work/cmake_install.cmake" ||
    fail "cannot redirect the install manifest in $build/cmake_install.cmake"
manifest_before=$(cksum "$build/install_manifest.txt" 2>/dev/null || echo none)

listing() {
    (cd "$1" && find . ! -type d | sed 's|^\.||' | LC_ALL=C sort)
}

for prefix in /usr/local /usr /opt/tassio; do
    echo "== prefix $prefix"
    root="$work/root"
    rm -rf "$root" "$work/install_manifest.txt"

    DESTDIR="$root" cmake -DCMAKE_INSTALL_PREFIX="$prefix" -P "$work/cmake_install.cmake" >"$work/log" 2>&1 ||
        { cat "$work/log"; fail "install into $root$prefix"; }

    # Icons drawn later (tassio-<N>.png, tassio-<N>@<S>x.png) are expected in
    # their theme folders too.
    for icon in "$source"/resources/icons/tassio-*.png; do
        name=${icon##*/tassio-}
        name=${name%.png}
        size=${name%%@*}
        case $name in
        *@*x) scale=${name#*@} && echo "$prefix/share/icons/hicolor/${size}x$size@${scale%x}/apps/tassio.png" ;;
        *) echo "$prefix/share/icons/hicolor/${size}x$size/apps/tassio.png" ;;
        esac
    done >"$work/icons"
    LC_ALL=C sort -u - "$work/icons" >"$work/expected" <<EOF
$prefix/bin/tassio
$prefix/share/applications/tassio.desktop
$prefix/share/icons/hicolor/16x16/apps/tassio.png
$prefix/share/icons/hicolor/256x256/apps/tassio.png
$prefix/share/icons/hicolor/32x32/apps/tassio.png
$prefix/share/icons/hicolor/48x48/apps/tassio.png
$prefix/share/icons/hicolor/scalable/apps/tassio.svg
$prefix/share/man/man6/tassio.6
$prefix/share/metainfo/io.github.tassio.tassio.metainfo.xml
EOF
    listing "$root" >"$work/found"
    diff -u "$work/expected" "$work/found" || fail "installed files differ from the expected list"
    LC_ALL=C sort "$work/install_manifest.txt" | diff -u "$work/expected" - ||
        fail "the manifest differs from the expected list"

    [ -x "$root$prefix/bin/tassio" ] || fail "the program is not executable"
    for size in 16 32 48 256; do
        cmp "$source/resources/icons/tassio-$size.png" "$root$prefix/share/icons/hicolor/${size}x$size/apps/tassio.png" ||
            fail "icon $size"
    done
    cmp "$source/resources/icons/tassio.svg" "$root$prefix/share/icons/hicolor/scalable/apps/tassio.svg" ||
        fail "scalable icon"

    # The manual page must format without a single groff or man warning.
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$root$prefix/share/man/man6/tassio.6" 2>&1 >/dev/null) || fail "man: the manual page does not format"
    [ -z "$out" ] || fail "man: $out"

    appstreamcli validate --no-net --pedantic "$root$prefix/share/metainfo/io.github.tassio.tassio.metainfo.xml" ||
        fail "appstreamcli validate"
    # The tree check also finds the menu entry the description launches and its icon.
    appstreamcli validate-tree --no-net "$root$prefix" || fail "appstreamcli validate-tree"
    out=$(desktop-file-validate "$root$prefix/share/applications/tassio.desktop" 2>&1) ||
        fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"

    # Files of others in the same folders must survive the uninstall.
    echo other >"$root$prefix/bin/other"
    echo other >"$root$prefix/share/applications/other.desktop"
    echo other >"$root$prefix/share/icons/hicolor/48x48/apps/other.png"

    for run in first second; do
        make -s -C "$source" uninstall BUILD="$work" DESTDIR="$root" >"$work/log" 2>&1 ||
            { cat "$work/log"; fail "make uninstall ($run run)"; }
        printf '%s\n' "$prefix/bin/other" "$prefix/share/applications/other.desktop" \
            "$prefix/share/icons/hicolor/48x48/apps/other.png" | LC_ALL=C sort >"$work/expected"
        listing "$root" >"$work/found"
        diff -u "$work/expected" "$work/found" || fail "files left or removed by the $run uninstall"
    done
done

# Without a manifest there is nothing to uninstall, and it says so.
if make -s -C "$source" uninstall BUILD="$work/nothing" DESTDIR="$work/root" >"$work/log" 2>&1; then
    fail "make uninstall succeeded without a manifest"
fi
grep -q "nothing was installed" "$work/log" || { cat "$work/log"; fail "no reason given"; }

manifest_after=$(cksum "$build/install_manifest.txt" 2>/dev/null || echo none)
[ "$manifest_before" = "$manifest_after" ] || fail "the build's own install manifest was changed"
echo "PASS"
