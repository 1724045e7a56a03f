#!/usr/bin/env bash
# The program end to end, as a user runs it, on a real X server (Xvfb) with a window manager
# (openbox) and a notification area (trayer):
#   1. started with a host in the namespace lab (our responder: 20.5 ms, every fourth request
#      dropped), it waits hidden in the tray and writes marker, header and "... 25 20";
#   2. a click on the tray icon brings the window back; minimising takes it to the tray again;
#   3. closed, then started again with no host in the same folder, it comes back from 8 quick trips
#      to the tray at its place, lists the run, and choosing it replays the measurement.
# Screenshots are kept under BUILD_DIR/screenshots. Needs root for the lab; everything it starts
# is torn down. Usage: end_to_end.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/desktop_lib.sh"
fail() { echo "FAILED: $*"; [ -f "$tmp/program.log" ] && cat "$tmp/program.log"; exit 1; }

[ "$(id -u)" = 0 ] || skip "the namespace lab needs root (CI runs this as root)"
need_tools Xvfb openbox trayer xdotool xwininfo xwd convert ip
lab=te$$
ip netns add "$lab-probe" 2>/dev/null || skip "this machine does not allow network namespaces"
ip netns del "$lab-probe"
trap 'desktop_cleanup; "$here/../network/netlab.sh" down "$lab"' EXIT
deadline=$((SECONDS + 240))

"$here/../network/netlab.sh" up "$lab" "$here/../network/echo_responder.py" || fail "lab set-up"
start_desktop

# The tray icon: the program's window inside trayer's panel, as "x y" of its centre.
tray_icon() {
  xwininfo -root -tree 2>/dev/null | awk '/"panel"/ {panel = 1; next}
    panel && /"trelvane": [(]"trelvane"/ {
      split($NF, a, "[+]"); split($(NF-1), s, "[x+]"); print a[2] + int(s[1] / 2), a[3] + int(s[2] / 2); exit }'
}
has_tray_icon() { [ -n "$(tray_icon)" ]; }
program_ended() { ! kill -0 "$program" 2>/dev/null; }

echo "== 1. started with a host: hidden in the tray, a measurement in the history file"
mkdir "$tmp/work"
cd "$tmp/work"
history=$XDG_DATA_HOME/trelvane/trelvane.txt  # no trelvane.txt here: the user's data folder
started=$SECONDS
ip netns exec "$lab-n" "$build/trelvane" 10.199.77.2 >"$tmp/program.log" 2>&1 &
program=$!
pids+=("$program")
until_true 10 has_tray_icon || fail "no tray icon"
[ -z "$(visible_window)" ] || fail "the window is on screen"
until_true 20 grep -q -a -E '^[0-9/]{10}-[0-9:]{5} [0-9]+ [0-9]+' "$history" ||
  fail "no measurement line within 20 s"
echo "measurement after $((SECONDS - started)) s"
mapfile -t lines < <(tr -d '\r' <"$history")
[ ${#lines[@]} = 4 ] || fail "expected 4 lines, got ${#lines[@]}"
[[ ${lines[0]} == "++++++++++ D"?"marrage de l'application : "* ]] || fail "marker: ${lines[0]}"
[[ ${lines[1]} == "+++++ H"?"te : 10.199.77.2" ]] || fail "host: ${lines[1]}"
[[ ${lines[2]} =~ ^\*\*\*\*\*\ [0-9]{2}/[0-9]{2}/[0-9]{4}\ -\ [0-9:]{8}$ ]] || fail "header: ${lines[2]}"
[[ ${lines[3]} =~ ^[0-9]{2}/[0-9]{2}/[0-9]{4}-[0-9]{2}:[0-9]{2}\ 25\ 20$ ]] || fail "line: ${lines[3]}"
[ "$(stat -c %a "$(dirname "$history")")" = 700 ] || fail "the data folder is not private"
[ ! -e trelvane.txt ] || fail "a history file in the working directory"
[ "$(head -c 61 "$history" | tail -c +13 | head -c 1 | od -An -tx1 | tr -d ' ')" = e9 ] ||
  fail "the marker's é is not the single byte 0xE9"
echo "ok: ${lines[3]}"

echo "== 2. the tray icon brings the window back; minimising takes it to the tray"
read -r x y <<<"$(tray_icon)"
xdotool mousemove "$x" "$y" click 1
until_true 3 on_screen || fail "one click on the tray icon did not bring the window back"
window=$(visible_window)
sleep 0.5
mkdir -p "$build/screenshots"
xwd -silent -root | convert xwd:- "$build/screenshots/end-to-end-restored.png"
[ -z "$(tray_icon)" ] || fail "the tray icon stays while the window is on screen"
# Round trips to the tray and back, quick ones (the window manager has not yet told the new
# window its frame): each time the window must come back exactly where it was.
round_trips() {  # round_trips COUNT
  local place now round
  place=$(xdotool getwindowgeometry "$(visible_window)" | grep Position)
  for round in $(seq "$1"); do
    xdotool windowminimize "$(visible_window)"
    until_true 5 off_screen || fail "minimising left the window on screen"
    until_true 5 has_tray_icon || fail "no tray icon after minimising"
    read -r x y <<<"$(tray_icon)"
    xdotool mousemove "$x" "$y" click 1
    until_true 3 on_screen || fail "one click on the tray icon did not bring the window back"
    sleep 0.05
    now=$(xdotool getwindowgeometry "$(visible_window)" | grep Position)
    [ "$now" = "$place" ] || fail "round $round: the window came back at $now, not $place"
  done
  echo "ok: $1 round trips, each back at $place"
}
xdotool windowmove "$(visible_window)" 300 200
sleep 0.5
round_trips 3
xdotool windowminimize "$(visible_window)"
until_true 5 has_tray_icon || fail "no tray icon after minimising"

echo "== 3. closed, started again with no host: the run is listed and replays"
before=$(md5sum <"$history")
read -r x y <<<"$(tray_icon)"
xdotool mousemove "$x" "$y" click 1
until_true 5 on_screen || fail "the window did not come back"
# On a loaded machine the window manager may take the key before the window has the focus: the
# key is pressed again while the program runs.
for _ in 1 2 3; do
  [ -n "$(visible_window)" ] &&
    xdotool windowactivate --sync "$(visible_window)" key --clearmodifiers alt+F4 2>/dev/null
  until_true 4 program_ended && break
done
program_ended || fail "closing did not end the program"
[ "$(md5sum <"$history")" = "$before" ] || fail "closing wrote to the history file"

"$build/trelvane" >>"$tmp/program.log" 2>&1 &
pids+=($!)
until_true 10 on_screen || fail "no window on the second start"
sleep 0.5
# Where the window manager put it: round trips from a window first shown on screen.
round_trips 8
window=$(visible_window)
sleep 0.5
choose_first_run "$window"
xwd -silent -id "$window" | convert xwd:- "$build/screenshots/end-to-end-replay.png"
# lh3, under the graph's right end (8055, 4320 twips): the replayed minute now shows there.
ink=$(convert "$build/screenshots/end-to-end-replay.png" -crop 33x15+537+288 -colorspace gray \
  -threshold 50% -negate -format '%[fx:mean]' info:)
awk -v ink="$ink" 'BEGIN { exit !(ink > 0.02) }' || fail "no hour label after choosing the run"
[ "$(sed -n 3p "$history" | tr -d '\r')" = "${lines[2]}" ] || fail "the file changed"
echo "ok: replayed (screenshots in $build/screenshots)"
[ $SECONDS -lt $deadline ] || fail "took longer than 4 minutes"
echo "all done in $SECONDS s"
