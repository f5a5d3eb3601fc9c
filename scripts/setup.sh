#!/usr/bin/env bash
# Installs the Debian packages Tavrolin needs to build, run and test.
# Does nothing when they are all present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format ccache
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qt6-image-formats-plugins
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav gstreamer1.0-tools
  gstreamer1.0-plugins-bad
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libavutil-dev mkvtoolnix
  nlohmann-json3-dev libicu-dev libfontconfig-dev zlib1g-dev
  libpocketsphinx-dev pocketsphinx-en-us espeak-ng
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils xdotool openbox locales dbus dbus-x11 attr
  at-spi2-core python3 python3-gi gir1.2-atspi-2.0
  desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Parsers and text rules are also tested under a decimal-comma locale and a Turkish one.
missing_locales=()
for loc in de_DE tr_TR; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8\$"; then
    missing_locales+=("$loc")
  fi
done

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

if [ ${#missing[@]} -ne 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
for loc in "${missing_locales[@]}"; do
  "${sudo_cmd[@]}" localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
done
