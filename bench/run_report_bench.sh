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
month_ms=$(median_ms "$build/trelvane" --report --since 2026-11-01 --until 2026-11-30 "$ten")
json_ms=$(median_ms "$build/trelvane" --report --format json "$ten")
export_ms=$(median_ms "$build/trelvane" --export "$ten")
export_json_ms=$(median_ms "$build/trelvane" --export --format json "$ten")
# How many times the time of wc -l.
times_wc() { awk -v a="$1" -v b="$wc_ms" 'BEGIN {printf "%.1f", a / b}'; }
echo "ten-year file: $(($(stat -c %s "$ten") / 1000000)) MB, $(wc -l <"$ten") lines"
echo "wc -l:                 $wc_ms ms"
echo "awk mean loss:         $awk_ms ms"
echo "--report (text):       $report_ms ms  = $(times_wc "$report_ms") x wc -l, $(awk -v a="$awk_ms" -v b="$report_ms" 'BEGIN {printf "%.1f", a / b}') x faster than awk"
echo "--report, one month:   $month_ms ms  = $(times_wc "$month_ms") x wc -l"
echo "--report --format json: $json_ms ms  = $(times_wc "$json_ms") x wc -l"
echo "--export:              $export_ms ms  = $(times_wc "$export_ms") x wc -l, $(awk -v a="$awk_ms" -v b="$export_ms" 'BEGIN {printf "%.1f", a / b}') x faster than awk"
echo "--export --format json: $export_json_ms ms  = $(times_wc "$export_json_ms") x wc -l"
echo "peak RSS --report: one year $(peak_kb "$build/trelvane" --report "$one") kB, ten years $(peak_kb "$build/trelvane" --report "$ten") kB"
echo "peak RSS --report --format json: one year $(peak_kb "$build/trelvane" --report --format json "$one") kB, ten years $(peak_kb "$build/trelvane" --report --format json "$ten") kB"
echo "peak RSS --export: one year $(peak_kb "$build/trelvane" --export "$one") kB, ten years $(peak_kb "$build/trelvane" --export "$ten") kB"
# The ten years as one run: every outage, episode and gap in one list.
single=$data/one-run.txt
{ head -n 2 "$ten"; grep -v '^[*+]' "$ten"; } >"$single"
echo "peak RSS --report --format json, ten years as one run: $(peak_kb "$build/trelvane" --report --format json "$single") kB"
rm -f "$one" "$single"
