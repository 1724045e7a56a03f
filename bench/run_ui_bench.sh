#!/usr/bin/env bash
# Window figures: event latency while a request waits on a dead host, and the resident memory of
# the idle program (offscreen, in an empty working directory). Usage: bench/run_ui_bench.sh [BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
"$build/bench/ui_bench"
tmp=$(mktemp -d)
trap 'kill $program 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$tmp"
export XDG_DATA_HOME=$tmp/data  # never the real home
QT_QPA_PLATFORM=offscreen "$build/trelvane" >/dev/null 2>&1 &
program=$!
sleep 3
echo "idle program, resident memory: $(grep VmRSS /proc/$program/status | tr -s ' ' | cut -d' ' -f2-)"
