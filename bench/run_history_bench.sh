#!/usr/bin/env bash
# History figures: the readers on a ten-year file against grep, on a 1 GB file, and the peak
# memory on a 2 GiB file without a line end; then the time from starting the program in a folder
# holding the ten-year file to its window on screen (Xvfb).
# Usage: bench/run_history_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
data=$build/bench-data
mkdir -p "$data"
[ -f "$data/ten-years.txt" ] || "$build/bench/history_bench" "$data/ten-years.txt" >/dev/null
cp "$data/ten-years.txt" "$data/work.txt"
"$build/bench/history_bench" "$data/work.txt"

echo "== 1 GB: the ten-year file eight times and a half"
for _ in 1 2 3 4 5 6 7 8; do cat "$data/ten-years.txt"; done >"$data/work.txt"
head -c 60000000 "$data/ten-years.txt" >>"$data/work.txt"
"$build/bench/history_bench" --scan "$data/work.txt"

echo "== 2 GiB without a line end"
{ printf '***** 06/12/2026 - 09:15:02\r\n'; head -c $((2 << 30)) /dev/zero | tr '\0' 'x'; } >"$data/work.txt"
"$build/bench/history_bench" --scan "$data/work.txt"
rm -f "$data/work.txt"

source "$here/../tests/desktop/desktop_lib.sh"
start_xvfb
for attempt in 1 2 3; do
  cp "$data/ten-years.txt" "$tmp/trelvane.txt"
  cd "$tmp"
  start=$(date +%s%N)
  "$build/trelvane" >/dev/null 2>&1 &
  program=$!
  # Poll every 10 ms (xdotool's own --sync waits half a second between looks).
  for _ in $(seq 2000); do on_screen && break; sleep 0.01; done
  end=$(date +%s%N)
  echo "start-up to a shown window with the ten-year file (run $attempt): $(((end - start) / 1000000)) ms"
  kill "$program"; wait "$program" 2>/dev/null || true; program=
done
