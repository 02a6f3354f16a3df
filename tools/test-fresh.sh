#!/bin/sh
# Runs `make test` from a clean clone of this checkout's HEAD inside a fresh
# Debian 12 root (debootstrap --variant=minbase, entered with chroot, as a
# container or a build root has it): what the README promises a new user.
#   test-fresh.sh
# The base root is bootstrapped once and kept in $TASSIO_DEB_CACHE
# (/var/cache/tassio), shared with `make test-deb`; the packages apt downloads
# for the build are kept there too, so later runs download nothing.
# Needs root. Everything runs in mount and PID namespaces of its own: the
# root's mounts and processes end with this script, whatever way it ends.
set -eu

suite=bookworm
mirror=${TASSIO_DEB_MIRROR:-http://deb.debian.org/debian}
security=${TASSIO_DEB_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cache=${TASSIO_DEB_CACHE:-/var/cache/tassio}
archives=$cache/fresh-apt-archives

fail() {
    echo "test-fresh: FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root"
for tool in debootstrap chroot mount umount unshare flock git; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (tools/install-deps.sh deb installs it)"
done

if [ -z "${TASSIO_FRESH_INSIDE:-}" ]; then
    src=$(cd "$(dirname "$0")/.." && pwd)
    rev=$(git -C "$src" rev-parse HEAD)
    base=$("$src/packaging/base-root.sh" "$cache" "$suite" "$mirror") || fail "no base root"
    mkdir -p "$archives"
    # What a run killed outright (SIGKILL) left: its folder, no longer
    # locked by a run (nor just made by one), and mounted nowhere, since its
    # mounts went with it.
    for old in $(find /var/tmp -maxdepth 1 -name 'tassio-test-fresh.*' -type d -mmin +5); do
        flock -n "$old/lock" true 2>/dev/null || continue
        grep -qF "$old" /proc/[0-9]*/mountinfo 2>/dev/null || rm -rf "$old"
    done
    # The kernel takes the namespace's mounts away when its last process
    # ends, and every process in it when its first one does.
    # Inside a chroot the root's propagation cannot be changed; the mounts
    # are then left as they are, and the cleanup still takes them away.
    propagation=private
    unshare --mount --propagation private true 2>/dev/null || propagation=unchanged
    TASSIO_FRESH_INSIDE=1 TASSIO_FRESH_SRC=$src TASSIO_FRESH_REV=$rev TASSIO_FRESH_BASE=$base \
        unshare --mount --propagation "$propagation" --pid --fork --kill-child "$0" &
    ns=$!
    # unshare ignores INT and TERM while it waits: the script inside hears them.
    trap 'pkill -TERM -P "$ns"' INT TERM HUP
    status=0
    wait "$ns" || status=$?
    while kill -0 "$ns" 2>/dev/null; do
        status=0
        wait "$ns" || status=$?
    done
    exit "$status"
fi

src=$TASSIO_FRESH_SRC
started=$(date +%s)
work=$(mktemp -d /var/tmp/tassio-test-fresh.XXXXXX)
root=$work/root
# Held for the whole run: a later run tells a live folder from a stale one.
exec 7>"$work/lock"
flock 7

mounted() {
    awk -v r="$root" '$2 == r || index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts
}

cleanup() {
    status=$?
    # Whatever still runs in the root was started here: end it before unmounting.
    for p in /proc/[0-9]*; do
        if [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ]; then
            kill -KILL "${p#/proc/}" 2>/dev/null || true
        fi
    done
    # Innermost first; a busy one is detached rather than left.
    for m in $(awk -v r="$root" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r); do
        umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
    # Never delete through a mount that is still there.
    if mounted; then
        echo "test-fresh: $root still has mounts; left in place" >&2
    else
        rm -rf "$work"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

echo "== a fresh root from $TASSIO_FRESH_BASE"
mkdir "$root"
tar -C "$root" -xf "$TASSIO_FRESH_BASE"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No service starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

# As a chroot or container is entered: its own /proc, /sys and /dev.
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys" 2>/dev/null || mount --rbind /sys "$root/sys"
mount -t devtmpfs -o mode=0755,nosuid devtmpfs "$root/dev" 2>/dev/null || mount --rbind /dev "$root/dev"
mkdir -p "$root/dev/pts" "$root/dev/shm"
mountpoint -q "$root/dev/pts" || mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
mountpoint -q "$root/dev/shm" || mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
# One archive for every run: what apt fetched once is not fetched again.
exec 9>"$cache/fresh.lock"
flock 9
mount --bind "$archives" "$root/var/cache/apt/archives"

# Long steps run in the background and are waited for, so that a signal
# is acted on at once rather than when the step ends.
in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root TERM=dumb LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@" &
    wait $!
}

echo "== apt-get install make (what a new user starts from)"
in_root apt-get update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get update"; }
in_root apt-get install -y -qq --no-install-recommends make >"$work/apt.log" 2>&1 ||
    { tail -n 40 "$work/apt.log"; fail "apt-get install make"; }

echo "== a clean clone of $TASSIO_FRESH_REV"
git clone --quiet --no-hardlinks --no-checkout "$src" "$root/root/tassio"
git -C "$root/root/tassio" checkout --quiet --detach "$TASSIO_FRESH_REV"

echo "== make deps (apt-get, with the network)"
in_root make -C /root/tassio deps >"$work/deps.log" 2>&1 || { tail -n 40 "$work/deps.log"; fail "make deps"; }
grep '^deps:' "$work/deps.log" | sed 's/^/   /'
flock -u 9

# A network namespace of its own from here: X's abstract sockets are per
# namespace, not per root, so an X server elsewhere on this machine with
# the display number a test's server picks would take its clients.
echo "== make test"
status=0
tests=$(date +%s)
unshare --net chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root TERM=dumb LANG=C.UTF-8 make -C /root/tassio test &
wait $! || status=$?
echo "   make test took $(( $(date +%s) - tests )) s (the build included)"
[ "$status" -eq 0 ] || fail "make test in a fresh root (status $status)"
echo "test-fresh: PASS in $(( $(date +%s) - started )) s"
