#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Without a display
# it runs under Xvfb, saves a screenshot and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DKORVEX_BUILD_TESTS=OFF -DKORVEX_BUILD_BENCH=OFF
bin=$PWD/build/bin

if [ -n "${DISPLAY:-}" ]; then
  exec "$bin/korvex"
fi

shots=$PWD/build/screenshots
mkdir -p "$shots"
shot=$shots/korvex-$(date +%Y%m%d-%H%M%S).png
xvfb-run -a -s "-screen 0 1024x720x24" bash -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  "$1" &
  app=$!
  sleep "${KORVEX_DEMO_SECONDS:-8}"
  import -window root "$2"
  kill "$app" 2>/dev/null || true
' _ "$bin/korvex" "$shot"
echo "Screenshot: $shot"
