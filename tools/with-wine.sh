#!/usr/bin/env bash
# Runs one command inside the test session of test.sh (Wine prefix, Xvfb, PulseAudio
# null sink, wineserver) and stops the session afterwards. Example:
#   tools/with-wine.sh build ctest --test-dir build/win64 -R shell_tests --output-on-failure
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:?usage: tools/with-wine.sh BUILD_DIR COMMAND...}"); shift
mkdir -p "$build"
source tools/wine-session.sh
vex_enable_i386 || echo "warning: 32-bit programs cannot run on this host"
trap vex_session_stop EXIT
vex_session_start "$build"
"$@"
