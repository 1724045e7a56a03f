#!/usr/bin/env bash
# The tray on a real X server (Xvfb, openbox, trayer): the icon's menu restores the window and
# quits; and when the notification area goes away while the window is in it, the window comes
# back by itself, minimised in the task bar, and returns to the tray when a tray is there again.
# The run measures loopback only. Usage: tray.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/desktop_lib.sh"
need_tools Xvfb openbox trayer xdotool xwininfo xprop
fail() { echo "FAILED: $*"; cat "$tmp/program.log"; exit 1; }

start_desktop
tray_pid=${pids[-1]}
tray_icon() {
  xwininfo -root -tree 2>/dev/null | awk '/"panel"/ {panel = 1; next}
    panel && /"trelvane": [(]"trelvane"/ {
      split($NF, a, "[+]"); split($(NF-1), s, "[x+]"); print a[2] + int(s[1] / 2), a[3] + int(s[2] / 2); exit }'
}
has_tray_icon() { [ -n "$(tray_icon)" ]; }
# The window as the window manager keeps it: "Iconic" in the task bar, "Normal" on screen.
window_state() {
  local w
  w=$(xdotool search --name 'Trelvane v0.4 par vElUdrak' 2>/dev/null | head -1)
  [ -n "$w" ] && xprop -id "$w" WM_STATE 2>/dev/null | awk '/window state/ {print $3}'
}
iconic() { [ "$(window_state)" = Iconic ]; }
menu_item() {  # menu_item N: right click on the icon, then the menu's Nth item
  read -r x y <<<"$(tray_icon)"
  xdotool mousemove "$x" "$y" click 3
  sleep 0.5
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
}

mkdir "$tmp/work" && cd "$tmp/work"
"$build/trelvane" 127.0.0.1 >"$tmp/program.log" 2>&1 &
program=$!
pids+=("$program")
until_true 10 has_tray_icon || fail "no tray icon"

echo "== the icon's menu: Restaurer"
menu_item 1
until_true 5 on_screen || fail "Restaurer did not bring the window back"
echo ok

echo "== the tray goes away while the window is in it"
xdotool windowminimize "$(visible_window)"
until_true 5 has_tray_icon || fail "no tray icon after minimising"
kill "$tray_pid"
# The desktop says so at once: within 2 s, with no polling to wait for.
until_true 2 iconic || fail "the window did not come back to the task bar (state: $(window_state))"
echo "ok: the window is $(window_state), in the task bar"
trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel --height 32 \
  >"$tmp/trayer2.log" 2>&1 &
pids+=($!)
until_true 10 has_tray_icon || fail "no icon in the new tray"
until_true 2 off_screen || fail "the window stays on screen"
echo "ok: back in the tray"

echo "== the icon's menu: Quitter"
history=$XDG_DATA_HOME/trelvane/trelvane.txt
# After the first burst's line, so that only quitting could write.
measured() { grep -q -a -E '^[0-9/]+-[0-9:]+ [0-9]+ [0-9]+'$'\r' "$history"; }
until_true 10 measured || fail "no measurement"
before=$(md5sum <"$history")
menu_item 3  # Restaurer, Alertes, Quitter
until_true 5 eval '! kill -0 "$program" 2>/dev/null' || fail "Quitter did not end the program"
[ "$(md5sum <"$history")" = "$before" ] || fail "quitting wrote to the history file"
echo ok
