#!/usr/bin/env bash
# Installs what is missing, builds, starts the analyzer simulator on a
# pseudo-terminal, points the program's settings at it and starts the program
# connected to it. Without a display it runs under Xvfb, runs two single
# measurements (pressing "Однократно" with xdotool), saves a screenshot once
# the results are in and prints its path.
#
# The simulator takes commands while it runs, for instance
#   echo "faults 0x0005" > build/run/sim-control
# (korvex-sim --help lists them); its log is build/run/korvex-sim.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Only the program and the simulator; the build directory keeps its options,
# so that scripts/test.sh finds its tests there afterwards.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target korvex korvex-sim
bin=$PWD/build/bin
run=$PWD/build/run
mkdir -p "$run"
log=$run/korvex-sim.log
control=$run/sim-control

# Short analyzer cycles (seconds), so that results come within the demo.
"$bin/korvex-sim" --settings "$bin/korvex" --control "$control" \
  --zero "${KORVEX_SIM_ZERO:-4}" --measure "${KORVEX_SIM_MEASURE:-6}" \
  --purge "${KORVEX_SIM_PURGE:-3}" >"$log" 2>&1 </dev/null &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q '^READY' "$log" && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^READY' "$log"; then
  echo "The analyzer simulator did not start:" >&2
  cat "$log" >&2
  exit 1
fi
echo "Analyzer simulator on $(sed -n 's/^PORT //p' "$log"), log $log, commands to $control"

if [ -n "${DISPLAY:-}" ]; then
  "$bin/korvex"
  exit 0
fi

shots=$PWD/build/screenshots
mkdir -p "$shots"
shot=$shots/korvex-$(date +%Y%m%d-%H%M%S).png
xvfb-run -a -s "-screen 0 1024x720x24" bash -c '
  bin=$1 shot=$2 log=$3 measurements=$4
  # Lines of the simulator log matching $1.
  count() { grep -c "$1" "$log" || true; }
  # Waits until the log has at least $2 lines matching $1, at most 60 s.
  await() { for _ in $(seq 600); do [ "$(count "$1")" -ge "$2" ] && return 0; sleep 0.1; done; return 1; }
  openbox >/dev/null 2>&1 &
  sleep 1
  # In the operator'"'"'s locale: decimal comma, dd.mm.yyyy.
  LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 "$bin/korvex" &
  app=$!
  # The splash closes after 5 s; by then the program has found the analyzer
  # idle and enabled the mode buttons.
  sleep 7
  win=$(xdotool search --onlyvisible --name "^Korvex" | head -n 1 || true)
  for n in $(seq "$measurements"); do
    [ -n "$win" ] || break
    xdotool mousemove --window "$win" 24 106 click 1
    # Zero setting, measuring, purging; back to idle, the result row and the
    # stop that ends the mode; the mode buttons return a few ticks later.
    await "^COMMAND 1" "$n" && await "^STATE 0" "$n" && await "^COMMAND 3" $((n + 1)) || break
    sleep 4
  done
  import -window root "$shot"
  kill "$app" 2>/dev/null || true
' _ "$bin" "$shot" "$log" "${KORVEX_DEMO_MEASUREMENTS:-2}"
echo "Screenshot: $shot"
