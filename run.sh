#!/usr/bin/env bash
# Plays FILE (default: the demo WAVE file the build writes) in the player window
# under Wine, with the shipped 32-bit program, built first when needed.
#   With a display ($DISPLAY set): the window appears there and plays through the
#   desktop's sound server until it is closed.
#   Without one (or with VEX_HEADLESS=1): Xvfb and PulseAudio's null sink; the file
#   (16-bit stereo 44100 Hz) plays to its end, a screenshot of the window is taken
#   while it plays, what the sink received is compared with the file, a summary is
#   printed, and the exit status is 0 exactly when it all matched.
# VEX_RUN_TREE=win64 plays with the x86-64 build instead (fast where 32-bit code
# runs only through an emulator).
set -uo pipefail
cd "$(dirname "$0")"
root=$PWD
build="$root/build"
tree="$build/${VEX_RUN_TREE:-win32}"

tools/install-deps.sh || exit 1
case "$(basename "$tree")" in
  win32) toolchain=mingw-i686; loader=wine ;;
  win64) toolchain=mingw-x86_64; loader=/usr/lib/wine/wine64 ;;
  *) echo "VEX_RUN_TREE is win32 or win64"; exit 1 ;;
esac
if [ ! -f "$tree/build.ninja" ]; then
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" -DVEX_TEST_SHELL=OFF || exit 1
fi
cmake --build "$tree" --target Vexatone vex_demo_wave || exit 1
exe="$tree/app/Vexatone.exe"
file=$(realpath "${1:-$tree/demo/vexatone-demo.wav}") || exit 1
[ -f "$file" ] || { echo "no such file: $file"; exit 1; }
# Wine's drive Z: is the root of the Linux file system.
winfile="Z:${file//\//\\}"

source tools/wine-session.sh
vex_enable_i386 || { echo "this host cannot run 32-bit Windows programs"; exit 1; }

if [ -n "${DISPLAY:-}" ] && [ -z "${VEX_HEADLESS:-}" ]; then
  export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
  echo "Starting the player with $file (the first start of a 32-bit program may take a minute)"
  exec "$loader" "$exe" "$winfile"
fi

trap vex_session_stop EXIT
vex_session_start "$build"
# The demo plays from a neutral folder of the Wine prefix, so that the window (and
# the screenshot) shows no path of this machine.
if [ -z "${1:-}" ]; then
  music="$WINEPREFIX/drive_c/users/Public/Music"
  mkdir -p "$music" && cp "$file" "$music/" && winfile="C:\\users\\Public\\Music\\$(basename "$file")"
fi
seconds=$(python3 tools/compare_capture.py --seconds "$file") || exit 1
capture="$build/run-capture.raw"
screenshot="$build/run-screenshot.png"
rm -f "$capture" "$screenshot"
parec -d nullsink.monitor --format=s16le --rate=44100 --channels=2 --raw >"$capture" &
recorder=$!
# parec may miss a second or two of its own start: the player starts only once the
# recording runs (half a second of the sink's silence is in the file).
for _ in $(seq 100); do
  [ "$(stat -c %s "$capture" 2>/dev/null || echo 0)" -ge 88200 ] && break
  sleep 0.1
done
"$loader" "$exe" "$winfile" >"$build/run-wine.log" 2>&1 &
player=$!

title="$(basename "$file") - ZEMBRIX Player(x86)"
echo "Waiting for the player window to play \"$title\""
started=
for _ in $(seq 600); do
  if xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; then started=1; break; fi
  kill -0 "$player" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$started" ]; then
  echo "FAILED: the player window never showed \"$title\""
  kill "$recorder" "$player" 2>/dev/null
  exit 1
fi
sleep $(( (seconds + 1) / 2 ))
# The desktop is black and bare: trimming it leaves the player's window.
{ import -window root "$screenshot" && convert "$screenshot" -trim +repage "$screenshot"; } 2>/dev/null ||
  echo "(no screenshot: ImageMagick failed)"
sleep $(( seconds / 2 + 3 ))
# Without /F, taskkill asks the window to close, as its close box would.
/usr/lib/wine/wine64 taskkill /IM Vexatone.exe >/dev/null 2>&1
for _ in $(seq 240); do kill -0 "$player" 2>/dev/null || break; sleep 0.5; done
kill "$player" 2>/dev/null && echo "(the player did not close by itself)"
kill "$recorder" 2>/dev/null
wait "$recorder" 2>/dev/null

echo "Played:     $file ($seconds s)"
echo "Screenshot: $screenshot"
echo "Capture:    $capture ($(stat -c %s "$capture") bytes)"
python3 tools/compare_capture.py "$file" "$capture"
