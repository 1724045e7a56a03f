#!/usr/bin/env bash
# The window on a real X server (Xvfb): it appears idle with its caption at 599 x 310; then a
# stored two-hour run chosen from the run list with the mouse is drawn on the graph. Screenshots
# are kept at BUILD_DIR/screenshots/idle-window.png and replay.png. Usage: window.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/desktop_lib.sh"
need_tools Xvfb xdotool xwd convert
fail() { echo "FAILED: $*"; cat "$tmp/program.log"; exit 1; }

# 150 measurements from 12:30 to 14:59, a loss burst around 14:00 and a slow spell around 13:30.
mkdir "$tmp/work"
{
  printf '***** 06/12/2026 - 12:30:01\r\n'
  for m in $(seq 0 149); do
    minute=$((12 * 60 + 30 + m))
    loss=0
    rt=$((20 + (m * 7) % 13))
    [ $((m % 9)) = 0 ] && loss=4
    [ "$m" -ge 85 ] && [ "$m" -le 95 ] && loss=$(((m - 84) * 8))
    [ "$m" -ge 55 ] && [ "$m" -le 65 ] && rt=$((150 + m * 3))
    [ "$m" = 90 ] && rt=2000
    printf '06/12/2026-%02d:%02d %d %d\r\n' $((minute / 60)) $((minute % 60)) "$loss" "$rt"
  done
} >"$tmp/work/trelvane.txt"

start_xvfb
cd "$tmp/work"
"$build/trelvane" >"$tmp/program.log" 2>&1 &
pids+=($!)
until_true 15 on_screen || fail "no window appeared"
window=$(visible_window)
sleep 0.5
mkdir -p "$build/screenshots"
xwd -silent -id "$window" | convert xwd:- "$build/screenshots/idle-window.png"
geometry=$(xdotool getwindowgeometry "$window" | grep -o -E '[0-9]+x[0-9]+')
[ "$geometry" = 599x310 ] || fail "client area $geometry, not 599x310"
echo "idle window $geometry: $build/screenshots/idle-window.png"

choose_first_run "$window"
xwd -silent -id "$window" | convert xwd:- "$build/screenshots/replay.png"
cmp -s "$build/screenshots/idle-window.png" "$build/screenshots/replay.png" &&
  fail "choosing the run changed nothing on screen"
# The graph (Picture1's inner area) holds the response-time line's bright green.
green=$(convert "$build/screenshots/replay.png" -crop 330x265+225+17 -fill black +opaque '#00ff00' \
  -format '%[fx:mean>0?1:0]' info:)
[ "$green" = 1 ] || fail "no response-time line on the graph"
echo "replayed run: $build/screenshots/replay.png"
echo ok
