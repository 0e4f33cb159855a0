#!/usr/bin/env bash
# Builds the libFuzzer programs with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a bounded time (seconds, default
# 60) from its seed corpus. A finding is saved under build-fuzz/findings and
# fails the run; copy it to tests/fuzz/regressions/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
fuzzers=(poll_tick data_file settings)
# Only the fuzzers and what they link: no window, no program.
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DKORVEX_FUZZ=ON \
  -DKORVEX_BUILD_TESTS=OFF -DKORVEX_BUILD_BENCH=OFF -DKORVEX_BUILD_TOOLS=OFF \
  -- "${fuzzers[@]/#/fuzz_}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
work=build-fuzz/work
findings=build-fuzz/findings
rm -rf "$work"
mkdir -p "$findings"
status=0
for target in "${fuzzers[@]}"; do
  mkdir -p "$work/$target"
  cp tests/fuzz/corpus/$target/* "$work/$target/"
  echo "== fuzz_$target: ${seconds}s"
  if ! build-fuzz/bin/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" -rss_limit_mb=4096 "$work/$target" \
      > "build-fuzz/fuzz_$target.log" 2>&1; then
    status=1
    tail -n 60 "build-fuzz/fuzz_$target.log"
  fi
  grep -E 'DONE|stat::number_of_executed_units|stat::peak_rss_mb' "build-fuzz/fuzz_$target.log" || true
done
exit $status
