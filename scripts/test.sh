#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the tests,
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and
# each fuzzer for a bounded time. KORVEX_QUICK=1 runs the tests only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DKORVEX_WERROR=ON
export QT_QPA_PLATFORM=offscreen
# Two tests a core (KORVEX_TEST_JOBS sets another number): they mostly wait
# for servers, the simulator and timers; one a core left two-thirds idle.
ctest --test-dir build --output-on-failure --parallel "${KORVEX_TEST_JOBS:-$((2 * $(nproc)))}" --timeout 600
if [ "${KORVEX_QUICK:-0}" != 1 ]; then
  scripts/sanitize.sh
  scripts/fuzz.sh "${KORVEX_FUZZ_SECONDS:-60}"
fi
echo "All tests passed."
