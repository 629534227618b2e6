#!/usr/bin/env bash
# The fuzz smoke of test.sh: every libFuzzer target here (NAME_fuzz.cpp) built
# with clang, ASan and UBSan in its own tree and run for N seconds (default 20)
# over its committed corpus. Exits non-zero when any build fails or any run finds
# a crash, a leak or a sanitizer report.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
export VEX_FUZZ_BUILD=build/fuzz-smoke
status=0
for source in fuzz/*_fuzz.cpp; do
  target=$(basename "$source" _fuzz.cpp)
  echo "fuzz smoke: $target for $seconds s"
  log=$VEX_FUZZ_BUILD/smoke-$target.log
  mkdir -p "$VEX_FUZZ_BUILD"
  if fuzz/run.sh "$target" "$seconds" >"$log" 2>&1; then
    grep -E '^Done [0-9]+ runs' "$log" || true
  else
    tail -n 60 "$log"
    echo "fuzz smoke: $target FAILED (log: $log)"
    status=1
  fi
done
exit $status
