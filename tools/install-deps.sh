#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when they
# are all present. Runs as root on a fresh Debian 12 machine.
set -euo pipefail

packages=(cmake ninja-build g++ g++-mingw-w64-i686 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 qemu-user
          wine wine32:i386 wine64 xvfb xauth pulseaudio pulseaudio-utils libpulse0:i386
          sox imagemagick googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
          zip python3)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
