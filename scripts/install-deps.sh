#!/bin/sh
# Installs the Debian 12 packages that building, running and testing Quillmere
# need, and only those that are missing.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config
libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl
libglib2.0-dev libglib2.0-bin libgtk-4-dev libwebkitgtk-6.0-dev libadwaita-1-dev libx11-dev
libgtest-dev libgmock-dev libbenchmark-dev
clang libclang-rt-14-dev
xvfb xauth imagemagick librsvg2-bin xdg-utils dbus-x11 at-spi2-core
xdotool procps libxtst-dev libxfixes-dev libxcursor-dev python3-pyatspi python3-gi
debhelper dpkg-dev fakeroot lintian appstream desktop-file-utils groff-base
"

missing=""
for pkg in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $pkg"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
