#!/usr/bin/env bash
# Desktop figures of the real program, each next to a bare Qt Widgets window of the same size
# (bench/bare_window.cpp), empty and with one line of text, on Xvfb:
#   start-up: exec to the window mapped (bench/map_timer.cpp, no window manager), median of 20, in
#     an empty folder and with the ten-year history; grep's time on that file beside it; and where
#     the program's own time goes (TRELVANE_STARTUP_TRACE);
#   wake-ups: voluntary context switches of the main thread over 30 s between bursts, with the run
#     in the tray (openbox, trayer) and with the window idle on screen;
#   resident memory: idle, and after replaying a 24-hour run.
# Usage: run_desktop_bench.sh [BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
source "$here/../tests/desktop/desktop_lib.sh"
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

median() { sort -n | awk '{v[NR] = $1} END {printf "%.1f", (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
wakeups() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$1/task/$1/status"; }
startup() {  # startup RUNS COMMAND...: the median of RUNS starts, in ms
  local runs=$1
  shift
  for _ in $(seq "$runs"); do "$build/bench/map_timer" "$@"; done | median
}

ten_years=$build/bench-data/ten-years.txt
[ -f "$ten_years" ] || { mkdir -p "$(dirname "$ten_years")" && "$build/bench/history_bench" "$ten_years" >/dev/null; }
mkdir "$tmp/empty" "$tmp/ten"
cp "$ten_years" "$tmp/ten/trelvane.txt"

echo "== start-up to the window mapped, median of 20 (no window manager)"
start_xvfb
"$build/bench/bare_window" >/dev/null 2>&1 & warm=$!; sleep 1; kill $warm; wait $warm 2>/dev/null || true
bare=$(startup 20 "$build/bench/bare_window")
bare_text=$(startup 20 "$build/bench/bare_window" --text)
empty=$(cd "$tmp/empty" && startup 20 "$build/trelvane")
ten=$(cd "$tmp/ten" && startup 20 "$build/trelvane")
grep_ms=$(for _ in $(seq 20); do
  s=$(date +%s%N); grep -c '^\*\*\*\*\*' "$ten_years" >/dev/null; echo $((($(date +%s%N) - s) / 1000))
done | median)
echo "bare Qt window: $bare ms; with one line of text: $bare_text ms"
echo "trelvane, empty folder: $empty ms ($(ratio "$empty" "$bare")x the bare window, $(ratio "$empty" "$bare_text")x with text)"
echo "trelvane, ten-year history: $ten ms (+$(awk -v a="$ten" -v b="$empty" 'BEGIN {printf "%.1f", a - b}') ms; grep -c on the file: $(awk -v u="$grep_ms" 'BEGIN {printf "%.1f", u / 1000}') ms)"
echo "where the program's time goes (ms since main, median of 10, empty folder):"
(cd "$tmp/empty" && for _ in $(seq 10); do
  TRELVANE_STARTUP_TRACE=1 MAP_TIMER_LINGER_MS=300 "$build/bench/map_timer" "$build/trelvane" 2>&1 >/dev/null |
    grep '^trelvane: start-up' | cat -n
done) >"$tmp/trace"
# Each step's median, in the order of the steps.
sed 's/^ *\([0-9]*\)\ttrelvane: start-up: \(.*\) \([0-9.]*\)$/\1\t\2\t\3/' "$tmp/trace" | sort -t$'\t' -k1,1n -k3,3n |
  awk -F'\t' '{v[$1, ++n[$1]] = $3; name[$1] = $2} END {
    for (i = 1; i in n; i++) printf "  %-28s %6.1f\n", name[i], v[i, int((n[i] + 1) / 2)] }'

echo "== wake-ups of the main thread over 30 s between bursts, and resident memory"
start_desktop
"$build/bench/bare_window" >/dev/null 2>&1 &
bare_pid=$!
"$build/bench/bare_window" --text >/dev/null 2>&1 &
text_pid=$!
pids+=("$bare_pid" "$text_pid")
mkdir "$tmp/tray" "$tmp/idle"
(cd "$tmp/tray" && exec env XDG_DATA_HOME="$tmp/tray" "$build/trelvane" 127.0.0.1 >"$tmp/tray.log" 2>&1) &
tray_pid=$!
pids+=("$tray_pid")
(cd "$tmp/idle" && exec env XDG_DATA_HOME="$tmp/idle" "$build/trelvane" >/dev/null 2>&1) &
idle_pid=$!
pids+=("$idle_pid")
# The first burst starts a second after start-up and ends within two; the next comes a minute later.
sleep 5
for pid in $bare_pid $text_pid $tray_pid $idle_pid; do
  kill -0 "$pid" 2>/dev/null || { echo "a program ended:"; cat "$tmp/tray.log"; exit 1; }
done
b0=$(wakeups $bare_pid) t0=$(wakeups $tray_pid) i0=$(wakeups $idle_pid)
sleep 30
echo "bare Qt window: $(($(wakeups $bare_pid) - b0)) wake-ups"
echo "trelvane measuring, in the tray: $(($(wakeups $tray_pid) - t0)) wake-ups"
echo "trelvane idle on screen: $(($(wakeups $idle_pid) - i0)) wake-ups"
bare_rss=$(rss_kb $bare_pid) text_rss=$(rss_kb $text_pid) idle_rss=$(rss_kb $idle_pid)
mb() { awk -v k="$1" 'BEGIN {printf "%.1f MB", k / 1024}'; }
echo "resident memory idle: bare $(mb "$bare_rss"), with text $(mb "$text_rss"); trelvane $(mb "$idle_rss") ($(ratio "$idle_rss" "$bare_rss")x, $(ratio "$idle_rss" "$text_rss")x with text)"

mkdir "$tmp/day" && cd "$tmp/day"
{
  printf '***** 06/12/2026 - 00:00:05\r\n'
  for m in $(seq 0 1439); do
    printf '06/12/2026-%02d:%02d %d %d\r\n' $((m / 60)) $((m % 60)) $(((m % 7 == 0) * 4)) $((18 + m % 40))
  done
} >trelvane.txt
kill "$idle_pid"
"$build/trelvane" >/dev/null 2>&1 &
day_pid=$!
pids+=("$day_pid")
until_true 10 on_screen
choose_first_run "$(visible_window)"
sleep 1
day_rss=$(rss_kb $day_pid)
echo "after replaying a 24-hour run: trelvane $(mb "$day_rss") ($(ratio "$day_rss" "$bare_rss")x the bare window, $(ratio "$day_rss" "$text_rss")x with text)"
