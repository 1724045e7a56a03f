#!/usr/bin/env bash
# Report and export figures on the ten-year history (121 MB, 5.3 M lines, as the history bench
# makes it), warm cache, side by side in one run with `wc -l` and an awk mean of the loss; and the
# peak memory on a one-year and the ten-year file.
# Usage: bench/run_report_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
data=$build/bench-data
mkdir -p "$data"
[ -f "$data/ten-years.txt" ] || "$build/bench/history_bench" "$data/ten-years.txt" >/dev/null
ten=$data/ten-years.txt
one=$data/one-year.txt
tail -n 527000 "$ten" >"$one"
cat "$ten" "$one" >/dev/null  # warm the cache

# Median wall time of five runs of a command, in ms.
median_ms() {
  local times=() start end
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

wc_ms=$(median_ms wc -l "$ten")
awk_ms=$(median_ms awk '$1 !~ /^[*+]/ {n++; s+=$2} END {print s/n}' "$ten")
report_ms=$(median_ms "$build/trelvane" --report "$ten")
json_ms=$(median_ms "$build/trelvane" --report --format json "$ten")
export_ms=$(median_ms "$build/trelvane" --export "$ten")
echo "ten-year file: $(($(stat -c %s "$ten") / 1000000)) MB, $(wc -l <"$ten") lines"
echo "wc -l:                 $wc_ms ms"
echo "awk mean loss:         $awk_ms ms"
echo "--report (text):       $report_ms ms  = $(awk -v a="$report_ms" -v b="$wc_ms" 'BEGIN {printf "%.1f", a / b}') x wc -l, $(awk -v a="$awk_ms" -v b="$report_ms" 'BEGIN {printf "%.1f", a / b}') x faster than awk"
echo "--report --format json: $json_ms ms"
echo "--export:              $export_ms ms  = $(awk -v a="$export_ms" -v b="$wc_ms" 'BEGIN {printf "%.1f", a / b}') x wc -l, $(awk -v a="$awk_ms" -v b="$export_ms" 'BEGIN {printf "%.1f", a / b}') x faster than awk"
echo "peak RSS --report: one year $(peak_kb "$build/trelvane" --report "$one") kB, ten years $(peak_kb "$build/trelvane" --report "$ten") kB"
echo "peak RSS --export: one year $(peak_kb "$build/trelvane" --export "$one") kB, ten years $(peak_kb "$build/trelvane" --export "$ten") kB"
rm -f "$one"
