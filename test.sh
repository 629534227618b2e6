#!/usr/bin/env bash
# Builds the trees and runs every test; exit 0 exactly when all pass.
#   build/native  the platform-free core with ASan and UBSan (g++)
#   build/win64   the Windows program and all its tests for x86-64, run under wine64
#   build/win32   the shipped i686 program; its platform-free tests run under Wine
#   build/fuzz-smoke  the libFuzzer targets (clang), each run briefly (fuzz/smoke.sh)
set -uo pipefail
cd "$(dirname "$0")"
root=$PWD
build="$root/build"

tools/install-deps.sh || exit 1
mkdir -p "$build"
jobs=$(nproc)

configure() {  # tree, cmake arguments...
  local tree=$1; shift
  cmake -S . -B "$build/$tree" -G Ninja "$@" >"$build/$tree-configure.log" 2>&1 ||
    { cat "$build/$tree-configure.log"; exit 1; }
  cmake --build "$build/$tree" -j "$jobs" || exit 1
}
configure native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEX_SANITIZE=ON
configure win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
configure win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DVEX_TEST_SHELL=OFF

source tools/wine-session.sh
vex_enable_i386 || echo "warning: 32-bit programs cannot run on this host"
trap vex_session_stop EXIT
vex_session_start "$build"

status=0
ctest --test-dir "$build/native" --output-on-failure -j "$jobs" || status=1
ctest --test-dir "$build/win64" --output-on-failure || status=1
ctest --test-dir "$build/win32" --output-on-failure || status=1
# Fuzz smoke: each libFuzzer target (clang, ASan, UBSan) runs 20 s over its corpus.
fuzz/smoke.sh 20 || status=1
exit $status
