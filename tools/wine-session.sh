# Sourced by test.sh and run.sh: a private Wine prefix, an X server, PulseAudio with
# a null sink and a persistent wineserver, all inside the build tree, started by
# vex_session_start and stopped again by vex_session_stop.

# Some hosts run 64-bit user code only (the kernel answers an i386 exec with
# ENOEXEC). There the i386 Wine loader, and so every 32-bit Windows program, runs
# through qemu's user-mode emulator, registered for i386 ELF files.
vex_enable_i386() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  local misc=/proc/sys/fs/binfmt_misc
  [ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc" || return 1
  if [ ! -e "$misc/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' >"$misc/register" || return 1
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Whether the kernel itself runs 32-bit programs: asked of the i386 Wine loader with
# a qemu entry of ours set aside for the moment (it would answer for the kernel).
vex_runs_i386_natively() {
  local entry=/proc/sys/fs/binfmt_misc/qemu-i386 enabled= status
  if [ -e "$entry" ] && [ "$(head -n1 "$entry")" = enabled ]; then
    echo 0 >"$entry" 2>/dev/null || return 1  # cannot tell: take the emulated way
    enabled=1
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1
  status=$?
  [ -n "$enabled" ] && echo 1 >"$entry"
  return $status
}

vex_session_start() {
  local build=$1
  export WINEPREFIX="$build/wine"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  export WINEARCH=win64
  export XDG_RUNTIME_DIR="$build/xdg"
  export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"

  if [ -z "${VEX_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local fdfile="$build/xvfb.display"
    rm -f "$fdfile"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >"$build/xvfb.log" 2>&1 &
    VEX_XVFB_PID=$!
    local i
    for i in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$fdfile")"
  fi

  pulseaudio --kill >/dev/null 2>&1 || true
  pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
    --load="module-null-sink sink_name=nullsink" \
    --load="module-native-protocol-unix" >"$build/pulse.log" 2>&1 || echo "pulseaudio did not start (see $build/pulse.log)"

  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix in $WINEPREFIX"
    wineboot -i >"$build/wineboot.log" 2>&1 || true
  fi
  # A persistent server: each Wine process start then costs a fraction of a second.
  wineserver -p >/dev/null 2>&1 || true
  # Start the prefix's services (which live as long as the server) from here, with
  # their output going nowhere: started by the first test instead, they would keep
  # that test's output pipe open and ctest would wait for it for ever.
  /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 </dev/null || true
  # A crashing program gets Wine's debugger, which opens a dialog and waits for a
  # click where there is a display; without the dialog it prints the crash and its
  # backtrace to the program's error output and ends the program within seconds.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 </dev/null || echo "warning: Wine's crash dialog stays on"
  # Names in any script drawn whole: the dialog's font, which Wine lacks, becomes a
  # CJK font (as on Windows, where it is one), and the face Wine falls back on links
  # to CJK and emoji fonts (tools/install-deps.sh). Wine's edit controls find no
  # linked glyphs, its lists and static texts do; neither draws characters outside
  # UTF-16's first plane.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS UI Gothic" /t REG_SZ \
    /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 </dev/null || true
  local face
  for face in "DejaVu Sans" "MS Shell Dlg" "Tahoma"; do
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei\0Symbola_hint.ttf,Symbola' /f \
      >/dev/null 2>&1 </dev/null || true
  done
}

vex_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  pulseaudio --kill >/dev/null 2>&1 || true
  if [ -n "${VEX_XVFB_PID:-}" ]; then
    kill "$VEX_XVFB_PID" 2>/dev/null || true
    wait "$VEX_XVFB_PID" 2>/dev/null || true
    VEX_XVFB_PID=
  fi
}
