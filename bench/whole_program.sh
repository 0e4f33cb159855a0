#!/usr/bin/env bash
# The whole program against the analyzer simulator, phase by phase: wake-ups a
# second of the whole process (voluntary and involuntary context switches of
# all its threads, from /proc/<pid>/task/*/status), CPU (utime + stime from
# /proc/<pid>/stat) and resident memory, each beside its budget. Builds
# nothing: run scripts/build.sh first. Exits 1 when a budget is missed.
#
#   bench/whole_program.sh [SECONDS]   seconds measured per phase (default 20;
#                                      a phase may ask for more, see the table)
#
#   KORVEX_BENCH_QPA=offscreen         no X server (default: Xvfb through
#                                      xvfb-run, or the $DISPLAY there is)
#   KORVEX_BENCH_BUILD=DIR             build directory (default: build)
#   KORVEX_BENCH_PHASES="idle polling" the phases to run, in this order
#                                      (default: every phase of the table)
#   KORVEX_BENCH_SIM_ARGS="--tcp 0"    more options of the simulator (here: the
#                                      program reaches it over TCP)
#   KORVEX_BENCH_THREADS=1             each thread's wake-ups as well, to stderr
#
# Adding a phase: a line in the PHASES table below (name, wake-up budget a
# second, CPU budget in per cent, resident memory budget in MiB, least seconds
# measured; "-" for none) and a function phase_<name> that brings the program
# and the simulator into that phase before it is measured: simulator commands
# through sim_cmd, the program's window through xdotool on $KORVEX_WINDOW
# (found when there is an X server), longer waits through wait_for_log, a
# program started anew in a directory of its own through restart_program. The
# phases run in the order given, one after the other, on the same simulator.
# A line in the RATIOS table compares two phases' CPU: the first may take at
# most that many times the second's.
#
# CPU comes from utime + stime in clock ticks (10 ms): at half a per cent a
# minute holds about 30 ticks, so the phases whose CPU is compared measure at
# least a minute, and their ratio is good to a few per cent.
set -euo pipefail

if [ "${1:-}" = --inside-display ]; then
  shift
else
  # Re-run under Xvfb unless told to go without an X server or one is there.
  if [ "${KORVEX_BENCH_QPA:-}" != offscreen ] && [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run missing (or KORVEX_BENCH_QPA=offscreen)" >&2; exit 2; }
    exec xvfb-run -a -s "-screen 0 1024x720x24" "$0" --inside-display "$@"
  fi
fi

cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${KORVEX_BENCH_BUILD:-build}
bin=$PWD/$build/bin
for f in korvex korvex-sim korvex-bench-dir; do
  [ -x "$bin/$f" ] || { echo "$bin/$f missing: build it first (scripts/build.sh)" >&2; exit 2; }
done
[ "${KORVEX_BENCH_QPA:-}" = offscreen ] && export QT_QPA_PLATFORM=offscreen

# A continuous measurement wakes the program more than polling does: each
# result waits for the disk once (it is committed before it is shown), and
# each repaint once for the X server (Qt's backing store waits until the
# server has read the previous picture from shared memory, and its event
# thread wakes for the answer). Its budget is polling's and those three.
#   name      wake-ups/s  CPU %  RSS MiB  least s
PHASES_TABLE='
idle        2           -      -        -
polling     6           -      -        -
continuous  9           -      -        60
fullday     9           -      -        60
line1       -           -      -        60
line8       -           -      -        60
'
#   phase     against     at most  of
RATIOS_TABLE='
fullday     continuous  1.2      cpu
line8       line1       2        cpu
line8       line1       2        wake-ups
'
# shellcheck disable=SC2206
phases=(${KORVEX_BENCH_PHASES:-$(awk 'NF {printf "%s ", $1}' <<<"$PHASES_TABLE")})

# Phases ---------------------------------------------------------------------

# No analyzer: the port is open but nothing answers (a silent line), so the
# program sends its stop once a second and waits.
phase_idle() {
  sim_cmd "silence on"
  sleep 3
}

# The analyzer answers every request: one status poll a second.
phase_polling() {
  sim_cmd "silence off"
  wait_for_log '^COMMAND 3' 10  # the program's stop, obeyed
  sleep 3
}

# A continuous measurement, a result a second, started by the program itself
# (--mode continuous) in a directory with no results yet: the chart grows
# from empty.
phase_continuous() {
  sim_cmd "silence off"
  restart_program "$work/empty" --mode continuous
  wait_for_log '^COMMAND 2' 30
  wait_for_log '^STATE 2' 10  # measuring
  sleep 10  # past the start and the first results
}

# The same with today's database already holding a whole day (86,400
# results): the table and the chart start with the day in view.
phase_fullday() {
  sim_cmd "silence off"
  restart_program "$work/day" --mode continuous
  wait_for_log '^COMMAND 2' 60
  wait_for_log '^STATE 2' 10
  sleep 10
}

# Several analyzers on one line (korvex-sim --analyzers N, Device-00K.ini for
# each further one) in a continuous measurement, a round a second: one, then
# eight. Eight may cost at most twice one (RATIOS): the wake-ups are not met
# yet, as each analyzer's exchange wakes the session's thread twice (its
# reply, the silent interval after it) and the round's one sync of the eight
# databases waits for the disk more often than one analyzer's commit does.
phase_line1() { line_phase 1; }
phase_line8() { line_phase 8; }
line_phase() {
  local dir=$work/line$1
  start_line_sim "$1" "$dir"
  restart_program "$dir" --mode continuous
  sleep 15  # every analyzer measuring
  grep -c '^@.* STATE 2' "$line_log" >/dev/null || { echo "no analyzer of the line measures" >&2; return 1; }
}

# A simulator of $1 analyzers on a line of its own, the settings for the
# program in $2 (a result a second).
line_sim_pid=
line_log=
start_line_sim() {
  [ -n "$line_sim_pid" ] && kill "$line_sim_pid" 2>/dev/null && wait "$line_sim_pid" 2>/dev/null
  mkdir -p "$2"
  line_log=$2.sim.log
  "$bin/korvex-sim" --analyzers "$1" --settings "$2/korvex" --zero 0 >"$line_log" 2>&1 </dev/null &
  line_sim_pid=$!
  for _ in $(seq 100); do grep -q '^READY' "$line_log" && break; sleep 0.1; done
  grep -q '^READY' "$line_log" || { echo "the line's simulator did not start:" >&2; cat "$line_log" >&2; exit 2; }
  "$bin/korvex-bench-dir" "$2" || exit 2
}

# Machinery ------------------------------------------------------------------

work=$(mktemp -d)
mkdir "$work/first" "$work/empty" "$work/day"
sim_pid=
app_pid=
cleanup() {
  # Only the two processes started here, by their ids; a failing kill or wait
  # must not end the clean-up early.
  set +e
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$line_sim_pid" ] && kill "$line_sim_pid" 2>/dev/null && wait "$line_sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

log=$work/korvex-sim.log
control=$work/sim-control

# Waits until the simulator's log has a line matching $1 (extended regex) past
# the lines it had when the phase began, at most $2 seconds.
log_mark=0
wait_for_log() {
  for _ in $(seq $(( ${2:-10} * 10 ))); do
    tail -n +"$((log_mark + 1))" "$log" | grep -Eq "$1" && return 0
    sleep 0.1
  done
  echo "no '$1' from the simulator within ${2:-10} s" >&2
  return 1
}

# Sends one command to the simulator and waits for its answer.
sim_cmd() {
  local from
  from=$(wc -l <"$log")
  echo "$1" >"$control"
  for _ in $(seq 50); do
    tail -n +"$((from + 1))" "$log" | grep -Fxq "OK $1" && return 0
    sleep 0.1
  done
  echo "the simulator did not take '$1'" >&2
  return 1
}

# "tid voluntary involuntary name" for every thread of $1.
thread_switches() {
  local s tid
  for s in /proc/"$1"/task/*/status; do
    tid=${s%/status}
    tid=${tid##*/}
    awk -v tid="$tid" '/^Name:/ {name = $2} /^voluntary_ctxt_switches/ {v = $2}
                       /^nonvoluntary_ctxt_switches/ {n = $2} END {print tid, v, n, name}' "$s" 2>/dev/null || true
  done
}

# utime + stime of $1 in clock ticks.
cpu_ticks() {
  local stat
  stat=$(<"/proc/$1/stat")
  stat=${stat##*) }
  # shellcheck disable=SC2086
  set -- $stat
  echo $(( ${12} + ${13} ))
}

rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

# Measures $app_pid for $1 seconds: prints "wakeups_per_s cpu_percent rss_mib
# threads voluntary_per_s cpu_ticks ticks_per_s". Involuntary switches count as wake-ups too: on a
# loaded machine they grow with the program's work.
measure() {
  local -A before_v before_n
  local tid v n vol=0 invol=0 t0 t1 c0 c1 threads=0
  while read -r tid v n _; do before_v[$tid]=$v; before_n[$tid]=$n; done < <(thread_switches "$app_pid")
  c0=$(cpu_ticks "$app_pid")
  t0=$(date +%s.%N)
  sleep "$1"
  while read -r tid v n name; do
    vol=$(( vol + v - ${before_v[$tid]:-0} ))
    invol=$(( invol + n - ${before_n[$tid]:-0} ))
    threads=$(( threads + 1 ))
    # KORVEX_BENCH_THREADS=1: each thread's share, to stderr.
    [ "${KORVEX_BENCH_THREADS:-0}" = 1 ] &&
      awk -v t="$name/$tid" -v v="$(( v - ${before_v[$tid]:-0} ))" -v n="$(( n - ${before_n[$tid]:-0} ))" \
          -v d="$1" 'BEGIN {printf "  %-24s voluntary %6.2f/s  involuntary %6.2f/s\n", t, v / d, n / d}' >&2
  done < <(thread_switches "$app_pid")
  c1=$(cpu_ticks "$app_pid")
  t1=$(date +%s.%N)
  awk -v v="$vol" -v n="$invol" -v c="$((c1 - c0))" -v hz="$(getconf CLK_TCK)" -v t0="$t0" -v t1="$t1" \
      -v rss="$(rss_kib "$app_pid")" -v th="$threads" \
      'BEGIN {d = t1 - t0; printf "%.2f %.2f %.1f %d %.2f %d %.6f\n", (v + n) / d, 100 * c / hz / d, rss / 1024, th, v / d, c, c / d}'
}

# Starts the program with settings, database and logs in $1 and the further
# options given; finds its window.
start_program() {
  local dir=$1
  shift
  "$bin/korvex" --dir "$dir" "$@" >"$dir.out" 2>&1 </dev/null &
  app_pid=$!
  sleep 5
  kill -0 "$app_pid" 2>/dev/null || { echo "the program ended:" >&2; cat "$dir.out" >&2; exit 2; }
  KORVEX_WINDOW=
  if [ "${QT_QPA_PLATFORM:-}" != offscreen ] && command -v xdotool >/dev/null; then
    KORVEX_WINDOW=$(xdotool search --pid "$app_pid" 2>/dev/null | head -n 1 || true)
  fi
  export KORVEX_WINDOW
}

# Ends the program running and starts it anew in $1 with the further options.
restart_program() {
  kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null || true
  app_pid=
  start_program "$@"
}

# Start ----------------------------------------------------------------------

# No zero setting before a measurement: the continuous phases measure at once.
# shellcheck disable=SC2086
"$bin/korvex-sim" --settings "$work/first/korvex" --control "$control" --zero 0 ${KORVEX_BENCH_SIM_ARGS:-} \
  >"$log" 2>&1 </dev/null &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^READY' "$log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^READY' "$log" || { echo "the simulator did not start:" >&2; cat "$log" >&2; exit 2; }
# The continuous phases' directories: the same port, a result every second,
# and for the full day a database holding today's 86,400 results.
for d in empty day; do cp "$work/first/korvex.ini" "$work/first/Device-001.ini" "$work/$d/"; done
"$bin/korvex-bench-dir" "$work/empty" || exit 2
"$bin/korvex-bench-dir" "$work/day" --results 86400 || exit 2
# The first phase decides whether the analyzer answers from the start.
sim_cmd "silence on"

start_program "$work/first"
echo "korvex against korvex-sim on $(sed -n 's/^PORT //p' "$log"), ${seconds} s a phase," \
     "${QT_QPA_PLATFORM:-xcb} platform"
printf '%-12s %14s %8s %10s %8s %10s %8s %8s %10s\n' phase "wake-ups/s" budget "CPU %" budget "RSS MiB" budget \
       threads "voluntary"
missed=0
declare -A cpu_of ticks_of rate_of wake_of
for phase in "${phases[@]}"; do
  row=$(awk -v p="$phase" '$1 == p' <<<"$PHASES_TABLE")
  [ -n "$row" ] || { echo "no phase '$phase' in the table" >&2; exit 2; }
  read -r _ wake_budget cpu_budget rss_budget least <<<"$row"
  log_mark=$(wc -l <"$log")
  "phase_$phase"
  window=$seconds
  [ "$least" != - ] && [ "$least" -gt "$window" ] && window=$least
  read -r wake cpu rss threads voluntary ticks rate < <(measure "$window")
  cpu_of[$phase]=$cpu
  ticks_of[$phase]=$ticks
  rate_of[$phase]=$rate
  wake_of[$phase]=$wake
  verdict=
  over() { [ "$2" != - ] && awk -v v="$1" -v b="$2" 'BEGIN {exit !(v > b)}'; }
  if over "$wake" "$wake_budget"; then verdict+=" wake-ups over budget"; fi
  if over "$cpu" "$cpu_budget"; then verdict+=" CPU over budget"; fi
  if over "$rss" "$rss_budget"; then verdict+=" memory over budget"; fi
  budget() { [ "$1" = - ] && echo - || echo "<= $1"; }
  printf '%-12s %14s %8s %10s %8s %10s %8s %8s %10s%s\n' "$phase" "$wake" "$(budget "$wake_budget")" "$cpu" \
         "$(budget "$cpu_budget")" "$rss" "$(budget "$rss_budget")" "$threads" "$voluntary" \
         "${verdict:+  MISSED:$verdict}"
  [ -n "$verdict" ] && missed=1
  kill -0 "$app_pid" 2>/dev/null || { echo "the program ended during '$phase'" >&2; exit 1; }
done

# CPU or wake-ups of one phase against another's, where both ran.
while read -r phase against most what; do
  [ -n "$phase" ] && [ -n "${cpu_of[$phase]:-}" ] && [ -n "${cpu_of[$against]:-}" ] || continue
  if [ "$what" = wake-ups ]; then
    a=${wake_of[$phase]} b=${wake_of[$against]}
    shown="$a / $b a second"
  else
    a=${rate_of[$phase]} b=${rate_of[$against]}
    shown="${cpu_of[$phase]} % / ${cpu_of[$against]} % (${ticks_of[$phase]} / ${ticks_of[$against]} ticks)"
  fi
  ratio=$(awk -v a="$a" -v b="$b" 'BEGIN {r = 1e9; if (b > 0) r = a / b; else if (a == 0) r = 1; printf "%.2f", r}')
  verdict=
  awk -v r="$ratio" -v m="$most" 'BEGIN {exit !(r > m)}' && verdict="  MISSED" && missed=1
  printf '%s %s / %s: %s = %s (budget <= %s)%s\n' "$what" "$phase" "$against" "$shown" "$ratio" "$most" "$verdict"
done <<<"$RATIOS_TABLE"
exit "$missed"
