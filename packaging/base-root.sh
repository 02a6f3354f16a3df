#!/bin/sh
# Makes sure a bare Debian root (debootstrap --variant=minbase) lies in the
# cache as a tarball, bootstrapping it the first time, and prints its path.
# `make test-deb` and `make test-fresh` both start from it.
#   base-root.sh <cache folder> <suite> <mirror>
# Needs root. Several checkouts on one machine share the cache: one at a time
# makes the tarball, the others wait for it.
set -eu

cache=$1
suite=$2
mirror=$3
base=$cache/$suite-minbase.tar

mkdir -p "$cache"
exec 8>"$cache/base.lock"
flock 8
if [ ! -f "$base" ]; then
    work=$(mktemp -d /var/tmp/tassio-base.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    echo "== debootstrap --variant=minbase $suite (once; kept in $base)" >&2
    if ! debootstrap --variant=minbase "$suite" "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1; then
        tail -n 30 "$work/debootstrap.log" >&2
        echo "base-root: debootstrap failed" >&2
        exit 1
    fi
    chroot "$work/base" apt-get clean
    tar -C "$work/base" -cf "$base.tmp" . && mv "$base.tmp" "$base"
fi
echo "$base"
