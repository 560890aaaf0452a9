#!/usr/bin/env bash
# Installs what Velmora needs to build, run and test on Debian 12 (as root or via sudo).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-svg-dev libgl-dev libicu-dev libx11-dev libxtst-dev liblua5.4-dev
          fonts-noto-cjk xvfb xauth xdotool x11-utils imagemagick xclip clang libclang-rt-14-dev
          clang-format lintian appstream qt6-translations-l10n
          qemu-system-x86 linux-image-amd64 busybox-static python3 ser2net socat ccache lrzsz)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
