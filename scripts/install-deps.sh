#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when some are missing.
# Idempotent: with everything present it installs nothing and needs no network.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64
  clang-format clang libclang-rt-14-dev
  iproute2 iputils-ping util-linux procps python3 python3-markdown clang-tidy
  librsvg2-bin desktop-file-utils appstream dpkg-dev man-db file lintian
  xvfb xauth xdotool x11-apps x11-utils imagemagick trayer openbox fonts-dejavu-core
  dunst dbus-daemon dbus-bin libnotify-bin qt6-translations-l10n tzdata tesseract-ocr
  tesseract-ocr-eng chromium qt6-httpserver-dev qt6-websockets-dev prometheus prometheus-node-exporter
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root, or install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
