#!/usr/bin/env bash
# Installs from Debian's packages whatever the builds and tests need and the
# machine lacks. Idempotent: with everything present it changes nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make zlib1g-dev libgtest-dev googletest
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 wine32:i386
  xvfb xdotool x11-utils xauth imagemagick fonts-dejavu-core
  osslsigncode openssl clang
  zip unzip
  nlohmann-json3-dev
  libdivsufsort-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
