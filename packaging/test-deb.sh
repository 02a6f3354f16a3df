#!/bin/sh
# Installs the package into a fresh Debian 12 root (debootstrap's minbase)
# with apt-get, as a user would, and starts the program there under xvfb-run:
# the dependencies the package names must be enough for it to start, and an
# ordinary user's settings must go to $XDG_CONFIG_HOME/tassio/.
#   test-deb.sh <package .deb>
# The base root is made once and kept as a tarball in $TASSIO_DEB_CACHE
# (/var/cache/tassio by default) with the packages apt downloaded, so a second
# run neither bootstraps nor downloads again. Needs root: debootstrap, chroot
# and mounting /proc do.
set -eu

deb=$1
suite=bookworm
mirror=${TASSIO_DEB_MIRROR:-http://deb.debian.org/debian}
security=${TASSIO_DEB_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cache=${TASSIO_DEB_CACHE:-/var/cache/tassio}
archives=$cache/apt-archives

fail() {
    echo "test-deb: FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root"
[ -f "$deb" ] || fail "no package $deb"
for tool in debootstrap chroot mount unshare flock; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (tools/install-deps.sh deb installs it)"
done
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

mkdir -p "$cache" "$archives"
# One run at a time uses the cache (other checkouts on this machine share it).
exec 9>"$cache/lock"
flock 9
work=$(mktemp -d /var/tmp/tassio-test-deb.XXXXXX)
root=$work/root

mounted() {
    awk -v r="$root" '$2 == r || index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts
}

cleanup() {
    # Whatever still runs in the root was started here: end it before unmounting.
    for p in /proc/[0-9]*; do
        if [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ]; then
            kill -KILL "${p#/proc/}" 2>/dev/null || true
        fi
    done
    umount "$root/proc" 2>/dev/null || true
    # Never delete through a mount that is still there.
    if mounted; then
        echo "test-deb: $root still has mounts; left in place" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

started=$(date +%s)
base=$("$(dirname "$0")/base-root.sh" "$cache" "$suite" "$mirror") || fail "no base root"

echo "== a fresh root from $base"
mkdir "$root"
tar -C "$root" -xf "$base"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No service starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
find "$archives" -name '*.deb' -exec cp {} "$root/var/cache/apt/archives/" \;
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"
}

echo "== apt-get install ./$(basename "$deb")"
in_root apt-get update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get update"; }
# Without recommends: what Depends names alone must let the program start.
in_root sh -c "cd /tmp && apt-get install -y -qq --no-install-recommends ./$(basename "$deb")" >"$work/apt.log" 2>&1 ||
    { tail -n 40 "$work/apt.log"; fail "apt-get install"; }
grep -E '^(Setting up|Unpacking) tassio' "$work/apt.log" | sed 's/^/   /'

echo "== what the package installed"
missing=$(in_root ldd /usr/bin/tassio | grep 'not found' || true)
[ -z "$missing" ] || fail "libraries missing after install: $missing"
for f in /usr/bin/tassio /usr/share/applications/tassio.desktop /usr/share/metainfo/io.github.tassio.tassio.metainfo.xml \
    /usr/share/icons/hicolor/48x48/apps/tassio.png /usr/share/icons/hicolor/scalable/apps/tassio.svg \
    /usr/share/man/man6/tassio.6.gz /usr/share/doc/tassio/copyright; do
    [ -e "$root$f" ] || fail "$f is not installed"
done
in_root sh -c 'fc-list :lang=zh family | grep -q .' || fail "no Chinese font after install"

# The X server comes only now, so nothing it pulls in stands in for a
# dependency the package forgot.
echo "== xvfb-run tassio, as an ordinary user"
in_root apt-get install -y -qq --no-install-recommends xvfb xauth x11-utils >"$work/apt.log" 2>&1 ||
    { tail -n 40 "$work/apt.log"; fail "apt-get install xvfb xauth x11-utils"; }
in_root useradd --create-home --uid 4242 player
cat >"$root/tmp/run.sh" <<'EOF'
#!/bin/sh
# Under xvfb-run: after a few seconds the program must still run with its
# figure window on the screen, and end cleanly on SIGTERM, saving its settings.
mkdir -m 700 "$XDG_RUNTIME_DIR"
tassio >/tmp/tassio.log 2>&1 &
pid=$!
sleep 4
if ! kill -0 $pid 2>/dev/null; then
    wait $pid
    echo "tassio ended by itself (status $?) within 4 s"
    exit 1
fi
figure=$(xwininfo -name Tassio 2>&1)
echo "$figure" | grep -E 'Width|Height|Map State' | tr -s ' ' | sed 's/^/   figure:/'
if ! echo "$figure" | grep -q 'Map State: IsViewable'; then
    echo "no figure window on the screen"
    kill -KILL $pid
    exit 1
fi
kill -TERM $pid
# A deadline for the exit, so a hung program fails the test rather than hangs it.
( sleep 10; kill -KILL $pid 2>/dev/null ) &
watchdog=$!
wait $pid
status=$?
kill $watchdog 2>/dev/null
echo "tassio ran 4 s and ended with status $status on SIGTERM"
exit $status
EOF
chmod +x "$root/tmp/run.sh"
status=0
# A network namespace of its own: X's abstract sockets are per namespace, not
# per root, so an X server elsewhere on this machine with the same display
# number would otherwise take the program's connection.
unshare --net chroot --userspec=player:player "$root" /usr/bin/env -i PATH=/usr/bin:/bin LANG=C.UTF-8 \
    HOME=/home/player XDG_CONFIG_HOME=/home/player/settings XDG_RUNTIME_DIR=/tmp/runtime-player \
    timeout 60 xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp' /tmp/run.sh || status=$?
sed 's/^/   tassio: /' "$root/tmp/tassio.log"
[ "$status" -eq 0 ] || fail "the program did not run and end cleanly under xvfb-run (status $status)"
[ -s "$root/home/player/settings/tassio/Tassio.ini" ] ||
    fail "no settings in \$XDG_CONFIG_HOME/tassio/Tassio.ini"
[ ! -e "$root/usr/bin/Tassio.ini" ] || fail "settings were written beside /usr/bin/tassio"
echo "   settings: $(head -n 1 "$root/home/player/settings/tassio/Tassio.ini")"

echo "== apt-get purge tassio"
in_root apt-get purge -y -qq tassio >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; fail "apt-get purge"; }
left=$(in_root sh -c 'ls -d /usr/bin/tassio /usr/share/applications/tassio.desktop /usr/share/man/man6/tassio.6.gz \
    /usr/share/doc/tassio /usr/share/icons/hicolor/*/apps/tassio.* 2>/dev/null' || true)
[ -z "$left" ] || fail "left after purge: $left"
# A user's settings are theirs: removing the program keeps them.
[ -s "$root/home/player/settings/tassio/Tassio.ini" ] || fail "the purge took the user's settings"

# Keep exactly what this run downloaded for the next one.
find "$archives" -name '*.deb' -delete
find "$root/var/cache/apt/archives" -name '*.deb' -exec cp {} "$archives/" \;

echo "test-deb: PASS in $(( $(date +%s) - started )) s"
