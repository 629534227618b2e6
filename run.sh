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
# Where 32-bit code runs only through qemu-user, the 32-bit Wine starts with the TLS
# shim preloaded (tools/qemu-tls-shim/README.txt says why).
preload=
if [ "$loader" = wine ] && ! vex_runs_i386_natively; then
  preload=$(tools/qemu-tls-shim/build.sh "$build/qemu-tls-shim") || exit 1
fi

if [ -n "${DISPLAY:-}" ] && [ -z "${VEX_HEADLESS:-}" ]; then
  export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
  echo "Starting the player with $file (the first start of a 32-bit program may take a minute)"
  LD_PRELOAD=$preload exec "$loader" "$exe" "$winfile"
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
# The recorder asks for a short latency: with parec's default the null sink runs on
# blocks of about a second and starts a new stream that late, and Wine, whose clock
# runs on regardless, drops what the server has not taken (the README's known limits).
parec -d nullsink.monitor --format=s16le --rate=44100 --channels=2 --raw --latency-msec=50 \
  >"$capture" &
recorder=$!
# parec may miss a second or two of its own start: the player starts only once the
# recording runs (half a second of the sink's silence is in the file).
for _ in $(seq 100); do
  [ "$(stat -c %s "$capture" 2>/dev/null || echo 0)" -ge 88200 ] && break
  sleep 0.1
done
# Wine's sound breaks while Wine itself is busy (the first programs of a session
# starting, see the README's known limits), so the player starts with the file in
# its name box, not playing; once its window is up and the session has gone quiet,
# Enter on the focused Play button starts the file.
/usr/lib/wine/wine64 reg add 'HKCU\SOFTWARE\ZEMBRIXPlayer\WaveFileMRL' /v Current /d "$winfile" /f \
  >/dev/null 2>&1 || { echo "FAILED: could not name the file in the player's settings"; exit 1; }
LD_PRELOAD=$preload "$loader" "$exe" >"$build/run-wine.log" 2>&1 &
player=$!

# The window's X id once its title reads $1, or nothing after $2 seconds (or when
# the player has exited). A first 32-bit start through an emulator takes minutes.
window_titled() {
  local id
  for _ in $(seq $(($2 * 2))); do
    id=$(xdotool search --name "^$(printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$player" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}
# Waits (at most a minute) until this session's Wine processes used less than a
# twentieth of a core over a whole second.
wait_until_quiet() {
  local ticks=$(getconf CLK_TCK) before after
  cpu_ticks() {
    local total=0 pid
    for pid in $(pgrep -f 'wineserver|\.exe' 2>/dev/null); do
      # A process may end between the listing and the read: its files are gone.
      { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
      set -- $(cut -d' ' -f14,15 "/proc/$pid/stat" 2>/dev/null) 0 0
      total=$((total + $1 + $2))
    done
    echo "$total"
  }
  for _ in $(seq 60); do
    before=$(cpu_ticks); sleep 1; after=$(cpu_ticks)
    [ $(( (after - before) * 20 )) -lt "$ticks" ] && return 0
  done
  return 1
}

echo "Waiting for the player window"
window=$(window_titled "ZEMBRIX Player(x86)" 300) || {
  echo "FAILED: the player window never appeared"; kill "$recorder" "$player" 2>/dev/null; exit 1; }
wait_until_quiet || echo "(Wine did not go quiet within a minute; starting anyway)"
xdotool windowfocus "$window" sleep 0.5 key Return 2>/dev/null

title="$(basename "$file") - ZEMBRIX Player(x86)"
echo "Waiting for the player window to play \"$title\""
if ! window_titled "$title" 60 >/dev/null; then
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
