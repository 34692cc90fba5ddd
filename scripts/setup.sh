#!/usr/bin/env bash
# Installs every Debian package Tavirel needs to build, test and run.
# Quiet and quick when everything is already there; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  qtbase5-dev qtbase5-dev-tools libqt5network5 libqcustomplot-dev
  libfftw3-dev nlohmann-json3-dev
  librtlsdr-dev libhackrf-dev liblimesuite-dev libairspy-dev libiio-dev libsoapysdr-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool
  ffmpeg
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
