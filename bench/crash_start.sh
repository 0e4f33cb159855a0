#!/usr/bin/env bash
# Back to measuring after any end: the window program (offscreen) and
# korvex --headless against the analyzer simulator, with a results database
# of DAYS days of one-second results. Each run ends the program while it
# measures — SIGTERM (a clean end, a logout) or SIGKILL (a crash) — and
# starts it again, timed from the launch to the idle caption. The caption is
# set by the tick that sends the fourth request of a start (the stop, the
# state twice, then the ready analyzer's caption), so the fourth request the
# simulator receives after the launch marks it. The limit is 2 s; the ratio
# is the median's share of it. Builds nothing.
#
#   bench/crash_start.sh [RUNS] [DAYS]    (default 5 runs, 365 days)
#
#   KORVEX_BENCH_BUILD=DIR   build directory (default: build)
#   KORVEX_BENCH_DIR=DIR     where the program's directory is made (default /tmp)
#   KORVEX_BENCH_BASELINE=PATH  a korvex of another build (main's, say), measured
#                            as well (its window and headless rows are "before")
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
days=${2:-365}
build=${KORVEX_BENCH_BUILD:-build}
bin=$PWD/$build/bin
limit_ms=2000
for f in korvex korvex-sim korvex-bench-dir; do
  [ -x "$bin/$f" ] || { echo "$bin/$f missing: build it first" >&2; exit 2; }
done
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d "${KORVEX_BENCH_DIR:-/tmp}/korvex-crash-start-XXXXXX")
sim_pid=
app_pid=
cleanup() {
  set +e
  [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

log=$work/korvex-sim.log
dir=$work/program
mkdir "$dir"
"$bin/korvex-sim" --settings "$dir/korvex" --zero 0 --verbose >"$log" 2>&1 </dev/null &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^READY' "$log" && break
  sleep 0.1
done
grep -q '^READY' "$log" || { echo "the simulator did not start:" >&2; cat "$log" >&2; exit 2; }
t0=$(date +%s)
"$bin/korvex-bench-dir" "$dir" --days "$days" --results 3600 >/dev/null || exit 2
echo "database: $days days, $(du -m "$dir/korvex.db" | cut -f1) MB, filled in $(($(date +%s) - t0)) s"

now_ms() { date +%s%3N; }
requests_since() { tail -n +"$(($1 + 1))" "$log" | grep -c '^RX ' || true; }

# Starts "$@" in the directory and waits until it measures.
start_measuring() {
  local from
  from=$(wc -l <"$log")
  "$@" --dir "$dir" --mode continuous >>"$work/out" 2>&1 </dev/null &
  app_pid=$!
  for _ in $(seq 3000); do
    tail -n +"$((from + 1))" "$log" | grep -q '^STATE 2' && return 0
    sleep 0.01
  done
  echo "$* did not measure within 30 s:" >&2
  tail -n 30 "$work/out" >&2
  exit 1
}

# Ends the program with signal $1, starts "$@" again: sets start_ms.
one_run() {
  local signal=$1 from t0 t1=
  shift
  start_measuring "$@"
  sleep 3  # a few results committed
  kill "-$signal" "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  from=$(wc -l <"$log")
  t0=$(now_ms)
  "$@" --dir "$dir" >>"$work/out" 2>&1 </dev/null &
  app_pid=$!
  for _ in $(seq 24000); do
    if [ "$(requests_since "$from")" -ge 4 ]; then t1=$(now_ms); break; fi
    sleep 0.005
  done
  [ -n "$t1" ] || { echo "$* sent no fourth request within 2 min:" >&2; tail -n 30 "$work/out" >&2; exit 1; }
  start_ms=$((t1 - t0))
  kill -TERM "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

printf '%-20s %-14s %10s %10s %16s\n' program end "median ms" "worst ms" "median / limit"
status=0
programs=(window headless)
[ -n "${KORVEX_BENCH_BASELINE:-}" ] && programs=("before: window" "before: headless" "${programs[@]}")
for program in "${programs[@]}"; do
  args=("$bin/korvex")
  case $program in before*) args=("$KORVEX_BENCH_BASELINE") ;; esac
  case $program in *headless) args+=(--headless) ;; esac
  for end in TERM KILL; do
    figures=()
    for _ in $(seq "$runs"); do
      one_run "$end" "${args[@]}"
      figures+=("$start_ms")
    done
    med=$(printf '%s\n' "${figures[@]}" | median)
    worst=$(printf '%s\n' "${figures[@]}" | sort -n | tail -n 1)
    name="SIGTERM (clean)"
    [ "$end" = KILL ] && name="SIGKILL (crash)"
    awk -v p="$program" -v n="$name" -v m="$med" -v w="$worst" -v l="$limit_ms" \
        'BEGIN {printf "%-20s %-14s %10d %10d %16.2f\n", p, n, m, w, m / l}'
    case $program in before*) ;; *) awk -v m="$med" -v l="$limit_ms" 'BEGIN {exit !(m > l)}' && status=1 ;; esac
  done
done
exit "$status"
