#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's archive.
# Runs apt-get only when a package is missing.
set -euo pipefail

packages=(
    cmake make g++ pkg-config dpkg-dev desktop-file-utils
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev
    xvfb xauth
    fonts-dejavu-core fonts-liberation2 fonts-comic-neue fonts-urw-base35
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
