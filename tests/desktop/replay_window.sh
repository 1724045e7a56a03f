#!/usr/bin/env bash
# A stored two-hour run chosen from the run list on a real X server (Xvfb), with the mouse as a
# user would: the graph shows it, and a screenshot is kept at BUILD_DIR/screenshots/replay.png.
# Usage: replay_window.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done

tmp=$(mktemp -d)
cleanup() {
  [ -n "${program:-}" ] && kill "$program" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# 150 measurements from 12:30 to 14:59, a loss burst around 14:00 and a slow spell around 13:30.
mkdir "$tmp/work"
{
  printf '***** 06/12/2026 - 12:30:01\r\n'
  for m in $(seq 0 149); do
    minute=$((12 * 60 + 30 + m))
    loss=0; rt=$((20 + (m * 7) % 13))
    [ $((m % 9)) = 0 ] && loss=4
    [ "$m" -ge 85 ] && [ "$m" -le 95 ] && loss=$(( (m - 84) * 8 ))
    [ "$m" -ge 55 ] && [ "$m" -le 65 ] && rt=$((150 + m * 3))
    [ "$m" = 90 ] && rt=2000
    printf '06/12/2026-%02d:%02d %d %d\r\n' $((minute / 60)) $((minute % 60)) "$loss" "$rt"
  done
} >"$tmp/work/trelvane.txt"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"
cd "$tmp/work"
"$build/trelvane" >"$tmp/program.log" 2>&1 &
program=$!
window=$(timeout 15 xdotool search --sync --onlyvisible --name 'Trelvane v0.4 par vElUdrak' | head -1)
[ -n "$window" ] || { echo "FAILED: no window appeared"; cat "$tmp/program.log"; exit 1; }
sleep 0.5
before=$(xwd -silent -id "$window" | md5sum)

# Open the run list by its arrow (Combo1: 480, 4080, 2175 x 315 twips) and take the first run.
xdotool mousemove --window "$window" 170 282 click 1
sleep 0.5
xdotool mousemove --window "$window" 80 303 click 1
sleep 0.7

mkdir -p "$build/screenshots"
xwd -silent -id "$window" | convert xwd:- "$build/screenshots/replay.png"
after=$(xwd -silent -id "$window" | md5sum)
echo "screenshot $build/screenshots/replay.png"
[ "$before" != "$after" ] || { echo "FAILED: choosing the run changed nothing on screen"; exit 1; }
# The hour label under the graph's right end shows the run's last minute; read it off the
# screen as the colour of the graph's right end: the response line's green must be there.
green=$(convert "$build/screenshots/replay.png" -crop 330x265+225+17 -fill black +opaque '#00ff00' \
  -format '%[fx:mean>0?1:0]' info:)
[ "$green" = 1 ] || { echo "FAILED: no response-time line on the graph"; exit 1; }
kill -0 "$program" || { echo "FAILED: the program ended"; exit 1; }
echo ok
