#!/usr/bin/env bash
# Fetches a real converter, a third-party static ffmpeg.exe 4.1 that ships in the
# npm packages @ffmpeg-installer/win32-ia32 (32-bit) and win32-x64, and caches it
# as TREE/real-converter/ffmpeg.exe, so that the end-to-end suite proves
# conversions with it beside the stand-in. Usage: fetch-converter.sh TREE ia32|x64
set -euo pipefail
tree=$1
arch=$2
version=4.1.0
target="$tree/real-converter/ffmpeg.exe"
[ -s "$target" ] && exit 0
cache="$(dirname "$tree")/npm-cache"
mkdir -p "$cache" "$tree/real-converter"
package="ffmpeg-installer-win32-$arch-$version.tgz"
if [ ! -s "$cache/$package" ]; then
  (cd "$cache" && npm pack --silent "@ffmpeg-installer/win32-$arch@$version" >/dev/null)
fi
tar -xzf "$cache/$package" -C "$tree/real-converter" --strip-components=1 package/ffmpeg.exe
[ -s "$target" ]
