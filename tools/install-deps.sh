#!/bin/sh
# Installs the Debian packages that building, running and testing need, and only
# those that are missing. Runs apt-get update only when something must be installed.
#   install-deps.sh        what building, running and testing need
#   install-deps.sh deb    that, and the tools `make deb` and `make test-deb` use
#                          (about 100 MB more, so only those targets ask for them)
set -eu

PACKAGES="
cmake g++ make pkg-config
qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools qt6-translations-l10n libgl-dev
libgtest-dev libgmock-dev libbenchmark-dev
libpulse-dev libxcb1-dev libxcb-shm0-dev libxcb-shape0-dev libxcb-xfixes0-dev libxcb-screensaver0-dev
fonts-wqy-microhei
xvfb xauth openbox xdotool x11-utils x11-xserver-utils
xserver-xorg-core xserver-xorg-video-dummy
weston xwayland picom xcompmgr
python3 python3-xlib python3-pil python3-dbus python3-gi
appstream desktop-file-utils man-db
oneko
trayer
i3lock
pulseaudio pulseaudio-utils
pipewire pipewire-bin pipewire-pulse wireplumber dbus-daemon
clang libclang-rt-14-dev
"

if [ "${1:-}" = deb ]; then
    PACKAGES="$PACKAGES
debhelper dpkg-dev lintian
debootstrap debian-archive-keyring
"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "deps: all Debian packages present"
    exit 0
fi

echo "deps: installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
