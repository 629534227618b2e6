#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when they
# are all present. Runs as root on a fresh Debian 12 machine.
set -euo pipefail

packages=(cmake ninja-build g++ g++-mingw-w64-i686 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 qemu-user
          wine wine32:i386 wine64 xvfb xauth pulseaudio pulseaudio-utils libpulse0:i386
          sox imagemagick googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
          zip python3 locales xdotool nodejs fonts-wine
          fonts-wqy-microhei fonts-symbola)
# fonts-wqy-microhei: Japanese and Korean glyphs, fonts-symbola: emoji, for the
# window's names in any script (Wine's own fonts have neither).

# A Japanese locale: Wine takes its ANSI code page (932) from LANG only for a
# locale the system has, and the tests of Japanese device names run in it.
ensure_japanese_locale() {
  locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' && return 0
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
    echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_japanese_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
# A mirror caught mid-sync fails one index; the lists it did fetch still serve.
for try in 1 2 3; do
  $SUDO apt-get update -q && break
  echo "apt-get update failed (try $try of 3)"; sleep 10
done
install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$@"; }
# When one architecture's update index could not be fetched, the other's newer
# versions of a shared library have no twin: take both from the release itself.
install "${missing[@]}" || install -t "$(. /etc/os-release; echo "$VERSION_CODENAME")" "${missing[@]}"
ensure_japanese_locale
