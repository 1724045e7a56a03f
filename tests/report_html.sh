#!/usr/bin/env bash
# The HTML report in a real browser: a history of three days with an outage on the second, its
# page rendered by headless Chromium to a picture. The page holds no reference to anything
# outside it; its day bars are three, and only the second carries the outages' red. Usage:
# report_html.sh TRELVANE
set -uo pipefail
program=$1
command -v chromium >/dev/null || { echo "SKIPPED: chromium is not installed (scripts/install-deps.sh installs it)"; exit 77; }
command -v convert >/dev/null || { echo "SKIPPED: imagemagick is not installed"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

{
  printf '+++++ H\xf4te : gateway <home> & "b\xfcro"\r\n***** 01/12/2026 - 08:00:00\r\n'
  for day in 01 02 03; do
    for m in $(seq 0 59); do
      loss=0
      [ "$day" = 02 ] && [ "$m" -ge 20 ] && [ "$m" -lt 30 ] && loss=100
      printf '%s/12/2026-09:%02d %d %d\r\n' "$day" "$m" "$loss" $((loss == 100 ? 2000 : 20 + m % 7))
    done
  done
} >"$tmp/history.txt"
TZ=UTC "$program" --report --format html "$tmp/history.txt" >"$tmp/report.html" || fail "no report"
size=$(stat -c %s "$tmp/report.html")
echo "page: $size bytes"
grep -q -F '<title>Rapport Trelvane : gateway &lt;home&gt; &amp; &quot;büro&quot;, 2026-12-01 – 2026-12-03</title>' \
  "$tmp/report.html" || fail "the title names neither the host nor the period: $(grep -o '<title>.*</title>' "$tmp/report.html")"
if grep -n -i -E '(src|href)=|url\(|@import|<link|<script|<img|<iframe|https?:' "$tmp/report.html"; then
  fail "the page refers to something outside it"
fi

# A browser profile of the test's own, no network to reach.
timeout 60 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
  --user-data-dir="$tmp/profile" --proxy-server=127.0.0.1:9 --host-resolver-rules='MAP * ~NOTFOUND' \
  --force-device-scale-factor=1 --window-size=1000,900 --screenshot="$tmp/report.png" \
  "file://$tmp/report.html" >"$tmp/chromium.log" 2>&1
[ -s "$tmp/report.png" ] || { cat "$tmp/chromium.log"; fail "the browser made no picture"; }
mkdir -p "${SCREENSHOTS:-$tmp}" && cp "$tmp/report.png" "${SCREENSHOTS:-$tmp}/report-html.png"

# The day bars: the topmost rows of the page's green (the three days measured an hour each: bars
# of 6 px); in them, which bar (14 px each from the first green column) holds green and which red.
convert "$tmp/report.png" txt:- | awk -F'[(),: ]+' '
  NR > 1 {
    x = $1; y = $2; r = $3; g = $4; b = $5
    if (r == 46 && g == 157 && b == 72) { green[x, y] = 1; if (top == "" || y < top) top = y }
    if (r == 208 && g == 24 && b == 24) red[x, y] = 1
  }
  END {
    for (k in green) { split(k, p, SUBSEP); if (p[2] < top + 6 && (left == "" || p[1] + 0 < left)) left = p[1] + 0 }
    for (k in green) { split(k, p, SUBSEP); if (p[2] < top + 6) bars[int((p[1] - left) / 14)] = 1 }
    for (k in red) { split(k, p, SUBSEP); if (p[2] >= top && p[2] < top + 6) reds[int((p[1] - left) / 14)] = 1 }
    n = 0; for (i in bars) n++
    printf "bars %d, red on:", n; for (i in reds) printf " %d", i; print ""
  }' >"$tmp/bars.txt"
cat "$tmp/bars.txt"
[ "$(cat "$tmp/bars.txt")" = "bars 3, red on: 1" ] || fail "the day bars do not show the outage on the second day only"
echo "ok"
