#!/bin/sh
# Installs the Debian 12 packages the project needs; only the missing ones, so
# a prepared machine passes in a second.
set -e
PACKAGES="g++ cmake make ninja-build lld pkg-config git
  libboost-all-dev libwxgtk3.2-dev libvlc-dev libvlccore-dev vlc-plugin-base
  libmp3lame-dev libconfig++-dev zlib1g-dev libasound2-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
  xvfb xauth xdotool iproute2 util-linux ffmpeg libxml2-utils tzdata gettext
  clang libclang-rt-14-dev wx3.2-i18n locales libglib2.0-dev"

missing=""
for p in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

# The toolkit's own dialogs (the file chooser) speak the language of the
# process's messages locale, which must exist on the machine.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    echo "Generating the locale ru_RU.UTF-8"
    if [ -f /etc/locale.gen ] && grep -q '^# *ru_RU.UTF-8 UTF-8' /etc/locale.gen; then
        $SUDO sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    else
        echo "ru_RU.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
    $SUDO locale-gen >/dev/null
fi
