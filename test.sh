#!/usr/bin/env bash
# Builds the trees and runs every test; exit 0 exactly when all pass.
#   build/native  the platform-free core with ASan and UBSan (g++)
#   build/win64   the Windows program and all its tests for x86-64, run under wine64
#   build/win32   the shipped i686 program: where the kernel runs 32-bit code itself,
#                 all its tests and the end-to-end suite against the shipped exe;
#                 elsewhere (32-bit Wine only through qemu) its platform-free tests and
#                 the window tests that run SIMD kernels on threads, while the win64
#                 tree's end-to-end suite plays the shipped i686 exe
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
source tools/wine-session.sh
# Where the kernel runs 32-bit code only through qemu-user, the i686 tree runs its
# window tests that run SIMD kernels on system threads, their 32-bit Wine process
# with tools/qemu-tls-shim preloaded (qemu's one emulated GDT would have Wine's
# threads run on each other's thread blocks), and the x86-64 tree's end-to-end suite
# plays the shipped i686 exe (VEX_QEMU_I686=0 leaves that out: some ten minutes).
shell32=ON
i686tree=
threads32=OFF
preload=
if ! vex_runs_i386_natively; then
  shell32=OFF
  threads32=ON
  preload=$(tools/qemu-tls-shim/build.sh "$build/qemu-tls-shim") || exit 1
  if [ "${VEX_QEMU_I686:-1}" = 1 ]; then
    i686tree=$build/win32
    echo "This host runs 32-bit code only through qemu: the i686 tree runs its platform-free tests and its window tests with threads; the x86-64 tree's end-to-end suite plays the shipped i686 exe (with $preload preloaded)."
  else
    echo "This host runs 32-bit code only through qemu: the i686 tree runs its platform-free tests and its window tests with threads (with $preload preloaded); VEX_QEMU_I686=0: the shipped i686 exe is not played end to end."
  fi
fi
configure native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEX_SANITIZE=ON
configure win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DVEX_I686_TREE="$i686tree" -DVEX_I686_PRELOAD="$preload"
configure win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DVEX_TEST_SHELL=$shell32 -DVEX_TEST_I686_THREADS=$threads32 -DVEX_I686_PRELOAD="$preload"

vex_enable_i386 || echo "warning: 32-bit programs cannot run on this host"
# A real converter for each tree's end-to-end suite.
tools/fetch-converter.sh "$build/win64" x64 || exit 1
tools/fetch-converter.sh "$build/win32" ia32 || exit 1
trap vex_session_stop EXIT
vex_session_start "$build"

status=0
ctest --test-dir "$build/native" --output-on-failure -j "$jobs" || status=1
ctest --test-dir "$build/win64" --output-on-failure || status=1
ctest --test-dir "$build/win32" --output-on-failure || status=1
# Fuzz smoke: each libFuzzer target (clang, ASan, UBSan) runs 20 s over its corpus.
fuzz/smoke.sh 20 || status=1
exit $status
