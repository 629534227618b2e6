#!/usr/bin/env bash
# Builds one libFuzzer target with clang (ASan, UBSan) and runs it for N seconds
# over a scratch copy of its corpus; new crashes land in fuzz/artifacts/. Exits
# non-zero on a build failure, a crash, a leak or a sanitizer report.
# VEX_FUZZ_BUILD names another build tree (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh TARGET [SECONDS]}
seconds=${2:-60}
build=${VEX_FUZZ_BUILD:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEX_FUZZ=ON -DVEX_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build $build --target fuzz_$target
work=$build/corpus-$target
mkdir -p "$work" fuzz/artifacts
cp -n fuzz/corpus/$target/* "$work"/ 2>/dev/null || true
$build/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
  -artifact_prefix=fuzz/artifacts/ "$work" fuzz/corpus/$target
