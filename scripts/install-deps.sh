#!/usr/bin/env bash
# Installs the Debian packages the project needs. Safe to run again: it only
# calls apt-get when a package is missing, and runs 'apt-get update' once.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libglew-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  xvfb xauth fonts-dejavu-core
  libboost-dev liblapacke-dev libopenblas-dev liblapack-dev libeigen3-dev libspectra-dev libsuitesparse-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev libcli11-dev
  gemmi-dev tao-pegtl-dev zlib1g-dev
  python3 python3-prody python3-scipy python3-numpy
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
