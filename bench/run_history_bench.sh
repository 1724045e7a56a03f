#!/usr/bin/env bash
# History figures on a ten-year file: the readers against grep, then the time from starting the
# program in a folder holding that file to its window on screen (Xvfb).
# Usage: bench/run_history_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
data=$build/bench-data
mkdir -p "$data"
"$build/bench/history_bench" "$data/trelvane.txt"

source "$here/../tests/desktop/desktop_lib.sh"
start_xvfb
for attempt in 1 2 3; do
  cp "$data/trelvane.txt" "$tmp/trelvane.txt"
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
