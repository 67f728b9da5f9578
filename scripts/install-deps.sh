#!/usr/bin/env bash
# Installs what Tessivo needs to build, run and test from Debian's packages.
# Only packages that are missing are installed, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-webengine-dev qt6-webengine-dev-tools
  qt6-svg-dev qt6-httpserver-dev qt6-websockets-dev
  libqt6sql6-sqlite libqt6sql6-psql postgresql nginx-light
  qtkeychain-qt6-dev
  libcmark-gfm-dev libcmark-gfm-extensions-dev
  libhunspell-dev hunspell-en-us
  libjs-katex bootstrap-icons
  libx11-dev libxcb1-dev libxkbcommon-dev libxkbcommon-x11-dev
  libbenchmark-dev clang-format
  clang libclang-rt-14-dev
  xvfb xauth x11-utils xdotool dbus dbus-x11 gnome-keyring xdg-utils openbox qt6ct at-spi2-core
  libglib2.0-bin gsettings-desktop-schemas
  python3 python3-html5lib
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
