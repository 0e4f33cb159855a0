#!/usr/bin/env bash
# The service's start and memory against the analyzer simulator: for each
# program measured, RUNS starts in a fresh copy of one directory (settings for
# a result a second, today's database holding a day of results, 86,400), each
# timed from the launch to the first request the simulator receives, then its
# resident memory after a continuous measurement has run for SECONDS. Builds
# nothing. The figures of two programs in the same run give their ratio.
#
#   bench/service_start.sh [RUNS] [SECONDS]    (default 5 runs, 20 s)
#
#   KORVEX_BENCH_BUILD=DIR        build directory (default: build)
#   KORVEX_BENCH_BASELINE=PATH    a korvex of another build (main's, say),
#                                 measured first as "korvex --headless"; the
#                                 others are compared with it
#
# The programs measured: the baseline (if given), build/bin/korvex --headless
# and build/bin/korvexd (when built). The first request leaves one poll
# period (1 s) after the start-up is done, for every program alike.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
seconds=${2:-20}
build=${KORVEX_BENCH_BUILD:-build}
bin=$PWD/$build/bin
for f in korvex korvex-sim korvex-bench-dir; do
  [ -x "$bin/$f" ] || { echo "$bin/$f missing: build it first" >&2; exit 2; }
done

work=$(mktemp -d)
sim_pid=
app_pid=
cleanup() {
  set +e
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

log=$work/korvex-sim.log
mkdir "$work/template"
"$bin/korvex-sim" --settings "$work/template/korvex" --zero 0 --verbose >"$log" 2>&1 </dev/null &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^READY' "$log" && break
  sleep 0.1
done
grep -q '^READY' "$log" || { echo "the simulator did not start:" >&2; cat "$log" >&2; exit 2; }
"$bin/korvex-bench-dir" "$work/template" --results 86400 >/dev/null || exit 2

now_ms() { date +%s%3N; }
rss_kib() { awk "/^$2/ {print \$2}" "/proc/$1/status"; }

# One start of "$@" in a fresh copy of the template: sets run_figures to
# "start_ms rss_kib hwm_kib".
one_run() {
  local dir=$work/run from t0 t1=
  rm -rf "$dir"
  cp -r "$work/template" "$dir"
  from=$(wc -l <"$log")
  t0=$(now_ms)
  "$@" --dir "$dir" --mode continuous >"$work/out" 2>&1 </dev/null &
  app_pid=$!
  for _ in $(seq 600); do
    if tail -n +"$((from + 1))" "$log" | grep -q '^RX '; then t1=$(now_ms); break; fi
    sleep 0.01
  done
  [ -n "$t1" ] || { echo "no request from $* within 6 s:" >&2; cat "$work/out" >&2; exit 1; }
  sleep "$seconds"
  kill -0 "$app_pid" 2>/dev/null || { echo "$* ended:" >&2; cat "$work/out" >&2; exit 1; }
  grep -q '^STATE 2' <(tail -n +"$((from + 1))" "$log") || { echo "$* did not measure" >&2; exit 1; }
  run_figures="$((t1 - t0)) $(rss_kib "$app_pid" VmRSS) $(rss_kib "$app_pid" VmHWM)"
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

declare -a names
declare -A start_of rss_of hwm_of
measure() {
  local name=$1 starts=() rss=() hwm=() s r h
  shift
  for _ in $(seq "$runs"); do
    one_run "$@"
    read -r s r h <<<"$run_figures"
    starts+=("$s")
    rss+=("$r")
    hwm+=("$h")
  done
  names+=("$name")
  start_of[$name]=$(printf '%s\n' "${starts[@]}" | median)
  rss_of[$name]=$(printf '%s\n' "${rss[@]}" | median)
  hwm_of[$name]=$(printf '%s\n' "${hwm[@]}" | median)
}

if [ -n "${KORVEX_BENCH_BASELINE:-}" ]; then measure baseline "$KORVEX_BENCH_BASELINE" --headless; fi
measure "korvex --headless" "$bin/korvex" --headless
[ -x "$bin/korvexd" ] && measure korvexd "$bin/korvexd"

echo "start: launch to the first request (median of $runs); memory after ${seconds} s of continuous measurement"
printf '%-20s %10s %10s %10s %22s\n' program "start ms" "RSS MiB" "peak MiB" "vs baseline start/RSS"
for n in "${names[@]}"; do
  vs=-
  if [ -n "${start_of[baseline]:-}" ] && [ "$n" != baseline ]; then
    vs=$(awk -v s="${start_of[$n]}" -v bs="${start_of[baseline]}" -v r="${rss_of[$n]}" -v br="${rss_of[baseline]}" \
         'BEGIN {printf "%.2f / %.2f", s / bs, r / br}')
  fi
  awk -v n="$n" -v s="${start_of[$n]}" -v r="${rss_of[$n]}" -v h="${hwm_of[$n]}" -v vs="$vs" \
      'BEGIN {printf "%-20s %10d %10.1f %10.1f %22s\n", n, s, r / 1024, h / 1024, vs}'
done
