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

tmp=$(mktemp -d)
cleanup() {
  [ -n "${program:-}" ] && kill "$program" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"
for attempt in 1 2 3; do
  cp "$data/trelvane.txt" "$tmp/trelvane.txt"
  cd "$tmp"
  start=$(date +%s%N)
  "$build/trelvane" >/dev/null 2>&1 &
  program=$!
  # Poll every 10 ms (xdotool's own --sync waits half a second between looks).
  for _ in $(seq 2000); do
    xdotool search --onlyvisible --name 'Trelvane v0.4' >/dev/null 2>&1 && break
    sleep 0.01
  done
  end=$(date +%s%N)
  echo "start-up to a shown window with the ten-year file (run $attempt): $(((end - start) / 1000000)) ms"
  kill "$program"; wait "$program" 2>/dev/null || true; program=
done
