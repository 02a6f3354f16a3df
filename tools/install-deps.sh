#!/bin/sh
# Installs the Debian packages that building, running and testing need, and only
# those that are missing. Runs apt-get update only when something must be installed.
set -eu

PACKAGES="
cmake g++ make pkg-config
qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools qt6-translations-l10n libgl-dev
libgtest-dev libgmock-dev libbenchmark-dev
libpulse-dev libglib2.0-dev libxcb1-dev libxcb-shm0-dev libxcb-shape0-dev libxcb-sync-dev
fonts-wqy-microhei
xvfb xauth openbox xdotool x11-utils x11-xserver-utils
python3 python3-xlib python3-pil
appstream desktop-file-utils
oneko
pulseaudio pulseaudio-utils
clang libclang-rt-14-dev
"

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
