#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and only what is missing.
# Safe to run again: with everything present it does nothing but check.
set -euo pipefail

packages=(
  cmake ninja-build g++ make ccache
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  googletest libbenchmark-dev libabsl-dev zlib1g-dev
  wine wine32:i386 wine64 xvfb xauth libgl1-mesa-dri:i386
  lua5.4 python3 clang libclang-rt-14-dev
  fonts-dejavu-core unicode-data
  libssl-dev libcurl4-openssl-dev zlib1g-dev
  libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
