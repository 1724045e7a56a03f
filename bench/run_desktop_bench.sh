#!/usr/bin/env bash
# Desktop figures of the real program on Xvfb with openbox and trayer: start-up time to a shown
# window, resident memory idle and after replaying a 24-hour run, and the processor time used while
# it waits in the tray between bursts (measuring 127.0.0.1). Usage: run_desktop_bench.sh [BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
source "$here/../tests/desktop/desktop_lib.sh"
start_desktop

rss() { grep VmRSS "/proc/$1/status" | tr -s ' ' | cut -d' ' -f2-3; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

mkdir "$tmp/empty" && cd "$tmp/empty"
for run in 1 2 3; do
  start=$(date +%s%N)
  "$build/trelvane" >/dev/null 2>&1 &
  program=$!
  for _ in $(seq 2000); do on_screen && break; sleep 0.01; done
  echo "start-up to a shown window, empty folder (run $run): $((($(date +%s%N) - start) / 1000000)) ms"
  sleep 1
  [ "$run" = 3 ] && echo "idle, resident memory: $(rss $program)"
  kill "$program"; wait "$program" 2>/dev/null || true
done

mkdir "$tmp/day" && cd "$tmp/day"
{
  printf '***** 06/12/2026 - 00:00:05\r\n'
  for m in $(seq 0 1439); do
    printf '06/12/2026-%02d:%02d %d %d\r\n' $((m / 60)) $((m % 60)) $(((m % 7 == 0) * 4)) $((18 + m % 40))
  done
} >trelvane.txt
"$build/trelvane" >/dev/null 2>&1 &
program=$!
for _ in $(seq 500); do on_screen && break; sleep 0.01; done
choose_first_run "$(visible_window)"
echo "after replaying a 24-hour run (1,440 measurements), resident memory: $(rss $program)"
kill "$program"; wait "$program" 2>/dev/null || true

mkdir "$tmp/tray" && cd "$tmp/tray" && touch trelvane.txt
"$build/trelvane" 127.0.0.1 >"$tmp/tray.log" 2>&1 &
program=$!
for _ in $(seq 100); do grep -q -a ' ms\| [0-9]* [0-9]*$' trelvane.txt 2>/dev/null && [ "$(wc -l <trelvane.txt)" -ge 3 ] && break; sleep 0.1; done
hz=$(getconf CLK_TCK)
kill -0 "$program" 2>/dev/null || { echo "the program ended:"; cat "$tmp/tray.log"; exit 1; }
before=$(cpu_ticks $program)
sleep 30
after=$(cpu_ticks $program)
echo "in the tray between bursts, 30 s: $((after - before)) ticks of 1/$hz s = $(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "%.2f", 100 * t / hz / 30 }') % of a core; resident memory $(rss $program)"
