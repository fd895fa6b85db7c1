#!/bin/sh
# Installs the Debian 12 packages the project needs; only the missing ones, so
# a prepared machine passes in a second.
set -e
PACKAGES="g++ cmake make pkg-config git
  libboost-all-dev libwxgtk3.2-dev libvlc-dev libvlccore-dev vlc-plugin-base
  libmp3lame-dev libconfig++-dev zlib1g-dev libasound2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
  xvfb xauth xdotool iproute2 util-linux ffmpeg libxml2-utils tzdata gettext
  clang libclang-rt-14-dev"

missing=""
for p in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
