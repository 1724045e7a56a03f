#!/usr/bin/env bash
# The idle window on a real X server (Xvfb): it appears with its caption at 599 x 310, and a
# screenshot is kept at BUILD_DIR/screenshots/idle-window.png. Usage: idle_window.sh BUILD_DIR
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

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"
mkdir "$tmp/work"
cd "$tmp/work"
"$build/trelvane" >"$tmp/program.log" 2>&1 &
program=$!

window=$(timeout 15 xdotool search --sync --onlyvisible --name 'Trelvane v0.4 par vElUdrak' | head -1)
[ -n "$window" ] || { echo "FAILED: no window appeared"; cat "$tmp/program.log"; exit 1; }
sleep 0.5
geometry=$(xdotool getwindowgeometry "$window" | grep -o -E '[0-9]+x[0-9]+')
mkdir -p "$build/screenshots"
xwd -silent -id "$window" | convert xwd:- "$build/screenshots/idle-window.png"
echo "window $window, $geometry, screenshot $build/screenshots/idle-window.png"
[ "$geometry" = 599x310 ] || { echo "FAILED: client area $geometry, not 599x310"; exit 1; }
kill -0 "$program" || { echo "FAILED: the program ended"; exit 1; }
echo ok
