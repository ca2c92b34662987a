#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need,
# only when one of them is missing. Run as root (or with sudo available).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev qt6-base-dev xvfb x11-utils xdotool clang libclang-rt-14-dev
          scdoc dpkg-dev debhelper fakeroot file lintian appstream nlohmann-json3-dev libsodium-dev libcli11-dev
          qt6-charts-dev minisign libxcb1-dev)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
