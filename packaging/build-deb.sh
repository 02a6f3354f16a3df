#!/bin/sh
# Builds the Debian package from a copy of the source in <build dir>/deb, so
# the source tree stays clean and dpkg-buildpackage's outputs (which it writes
# beside the source folder) land there; copies tassio_<version>_<arch>.deb to
# the top of the source and fails when lintian finds an error.
#   build-deb.sh <build dir> [jobs]
# DEB_BUILD_OPTIONS, when set, replaces the default "nocheck": `make test`
# runs the tests, a package build need not repeat them.
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
jobs=${2:-$(nproc)}

fail() {
    echo "deb: $*" >&2
    exit 1
}

# One version everywhere: the package's, the program's and the metainfo's.
version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
cmake_version=$(sed -n 's/^project(Tassio VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ "$version" = "$cmake_version" ] ||
    fail "debian/changelog says $version, CMakeLists.txt says $cmake_version"
grep -q "<release version=\"$version\"" "$src/packaging/io.github.tassio.tassio.metainfo.xml" ||
    fail "the metainfo has no release $version"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)

stage=$build/deb
rm -rf "$stage"
mkdir -p "$stage/tassio-$version"
# The build folder is left out wherever it is, as are other build folders and
# what earlier runs left in the top folder.
inner=""
case "$build/" in "$src"/*) inner="--exclude=.${build#"$src"}" ;; esac
# shellcheck disable=SC2086
tar -C "$src" --exclude=./.git --exclude='./build*' --exclude='./tassio_*.deb' --exclude=./Tassio.ini \
    --exclude=__pycache__ --exclude='*.pyc' $inner -cf - . | tar -C "$stage/tassio-$version" -xf -

if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    # debhelper gives the build a home of its own, which would hide the cache.
    CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
    export CCACHE_DIR
fi
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS-nocheck} parallel=$jobs"
(cd "$stage/tassio-$version" && dpkg-buildpackage -b -us -uc) >"$stage/build.log" 2>&1 ||
    { tail -n 60 "$stage/build.log"; fail "dpkg-buildpackage failed; the whole log is $stage/build.log"; }

deb=tassio_${version}_$arch.deb
[ -f "$stage/$deb" ] || fail "dpkg-buildpackage made no $deb"
cp "$stage/$deb" "$src/$deb"

echo "== lintian"
lintian --fail-on error --info "$stage/tassio_${version}_$arch.changes" ||
    fail "lintian found errors"
echo "== $deb: $(stat -c %s "$src/$deb") bytes"
dpkg-deb -f "$src/$deb" Depends Recommends Installed-Size
