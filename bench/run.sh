#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: natively (build/bench-native), as
# the i686 exe under Wine (build/bench-win32) and as the x86-64 exe under wine64
# (build/bench-win64). The first argument names the benchmark program (dsp_bench
# when it is left out or starts with a dash; render_bench, start_bench and
# play_cpu_bench run on Windows only);
# the other arguments go to it, e.g.
#   bench/run.sh dsp_bench --benchmark_filter='Int16->Float32'
#   bench/run.sh render_bench
#   bench/run.sh play_cpu_bench --seconds=15
# Google Benchmark for the Windows trees is compiled from its Debian source package,
# fetched into build/benchmark-src when missing. A machine without source entries
# gets them (as root, in /etc/apt/sources.list.d/debian.sources); where that cannot
# be done the script stops and says why.
# On a host that runs 32-bit code only through an emulator the i686 figures are
# emulated: they show the kernels' relative cost, not a real machine's speed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build"
mkdir -p "$build" || exit 1  # the configure logs go here before cmake makes any tree
jobs=2
name=dsp_bench
if [[ $# -gt 0 && $1 != -* ]]; then name=$1; shift; fi

# Adds deb-src to the machine's Debian entries (a fresh Debian 12 has none) and
# reads the package lists again. False when it cannot.
enable_source_packages() {
  local sources=/etc/apt/sources.list.d/debian.sources
  local sudo=
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  if [[ -f $sources ]] && grep -q '^Types: deb$' "$sources"; then
    $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources" || return 1
  elif [[ -f /etc/apt/sources.list ]] && grep -q '^deb ' /etc/apt/sources.list; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee /etc/apt/sources.list.d/vexatone-src.list >/dev/null || return 1
  else
    return 1
  fi
  $sudo apt-get update -q >/dev/null
}

fetch_benchmark_source() {
  (cd "$build/benchmark-src" && apt-get source --download-only benchmark >/dev/null 2>&1 &&
     tar xzf benchmark_*.orig.tar.gz)
}

benchmark_source() {
  local dir
  dir=$(ls -d "$build"/benchmark-src/benchmark-*/ 2>/dev/null | head -n1)
  if [[ -z "$dir" ]]; then
    mkdir -p "$build/benchmark-src"
    fetch_benchmark_source || { enable_source_packages && fetch_benchmark_source; } || return 1
    dir=$(ls -d "$build"/benchmark-src/benchmark-*/ 2>/dev/null | head -n1)
  fi
  [[ -n "$dir" ]] && echo "${dir%/}"
}

configure() {  # tree, cmake arguments...
  local tree=$1; shift
  cmake -S . -B "$build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >"$build/$tree-configure.log" 2>&1 ||
    { cat "$build/$tree-configure.log"; exit 1; }
  cmake --build "$build/$tree" -j "$jobs" --target "$name" || return 1
}

program() {  # tree, suffix: the built program's path
  find "$build/$1/bench" -name "$name$2" -type f | head -n1
}

if [[ $name != render_bench && $name != start_bench && $name != play_cpu_bench ]]; then  # Windows only
  configure bench-native || exit 1
  echo "== native x86-64"
  "$(program bench-native "")" "$@"
fi

if src=$(benchmark_source); then
  configure bench-win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DVEX_TEST_SHELL=OFF \
    -DVEX_BENCHMARK_SOURCE="$src" || exit 1
  configure bench-win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DVEX_BENCHMARK_SOURCE="$src" || exit 1
  echo "== i686 exe under Wine (emulated on hosts without 32-bit support)"
  tools/with-wine.sh build wine "$(program bench-win32 .exe)" "$@"
  echo "== x86-64 exe under wine64"
  tools/with-wine.sh build /usr/lib/wine/wine64 "$(program bench-win64 .exe)" "$@"
else
  echo "FAILED: Google Benchmark's Debian source package could not be fetched, so the Windows" >&2
  echo "benchmarks cannot be built: 'apt-get source benchmark' needs deb-src entries, which this" >&2
  echo "script adds when run as root (or with sudo) on a Debian machine." >&2
  exit 1
fi
