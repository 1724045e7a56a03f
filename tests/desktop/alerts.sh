#!/usr/bin/env bash
# Alerts end to end, with the shipped program and its real one-minute cycle, on a real X server
# (Xvfb, openbox, trayer) with a real notification daemon (dunst) on a session bus of the test's
# own, the notifications read off the bus (dbus-monitor), never from the program:
#   B measures a lab host from the tray: green dot after its first measurement; the lab drops
#     everything ("fault drop"): exactly one "Coupure : HOST" within 3 bursts, a red dot; the fault
#     cleared: exactly one "Rétabli : HOST" with the outage's length, replacing the outage's notice;
#     Stop: the plain icon again. Its save dialog speaks French (Qt's own translation).
#   A measures a name that does not exist (its mount namespace resolves from /etc/hosts only):
#     "Hôte introuvable !" on its window, and no notification, ever.
#   C measures a name whose resolver cannot be reached (what a dead link gives): an outage like
#     any other, notified.
# Needs root for the lab; everything it starts is torn down. About 4 minutes, mostly waiting.
# Usage: alerts.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# The session bus listens on a socket path, not an abstract socket: the programs run in the lab's
# network namespace, which cannot reach the abstract sockets of the test's own.
if [ -z "${TRELVANE_ALERTS_BUS:-}" ]; then
  [ "$(id -u)" = 0 ] || { echo "SKIPPED: the namespace lab needs root (CI runs this as root)"; exit 77; }
  command -v dbus-run-session >/dev/null || { echo "SKIPPED: dbus-run-session is not installed"; exit 77; }
  bus=$(mktemp -d)
  cat >"$bus/session.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  TRELVANE_ALERTS_BUS=1 dbus-run-session --config-file="$bus/session.conf" -- "$0" "$@"
  status=$?
  rm -rf "$bus"
  exit $status
fi

source "$here/desktop_lib.sh"
fail() {
  echo "FAILED: $*"
  for log in "$tmp"/*.log "$tmp"/?/trelvane/trelvane.txt; do echo "--- $log"; tail -n 30 "$log"; done
  grep -a -E '^method call|string "(Coupure|R)' "$tmp/notify.log"
  exit 1
}
need_tools Xvfb openbox trayer xdotool xwininfo xwd convert ip unshare dunst dbus-monitor tesseract
lab=ta$$
ip netns add "$lab-probe" 2>/dev/null || skip "this machine does not allow network namespaces"
ip netns del "$lab-probe"
trap 'desktop_cleanup; "$here/../network/netlab.sh" down "$lab"' EXIT
"$here/../network/netlab.sh" up "$lab" "$here/../network/echo_responder.py" || fail "lab set-up"
start_desktop
mkdir -p "$build/screenshots"

stdbuf -oL dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
  >"$tmp/notify.log" 2>&1 &
pids+=($!)
dunst >"$tmp/dunst.log" 2>&1 &
pids+=($!)
daemon_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.Notifications 2>/dev/null | grep -q 'boolean true'
}
until_true 10 daemon_up || fail "dunst did not take the notification service"

# Notify calls whose summary is $1, and the replaces_id of the last of them.
notices() { grep -a -c -F "string \"$1\"" "$tmp/notify.log"; }
notified() { [ "$(notices "$1")" -ge 1 ]; }
replaced_id_of() { grep -a -B3 -F "string \"$1\"" "$tmp/notify.log" | awk '/uint32/ {id = $2} END {print id}'; }

# Each program in the lab's near namespace, in a mount namespace of its own whose resolver is
# set by the files given ("-": the machine's), with a data folder of its own.
start() {  # start NAME NSSWITCH RESOLV ARGS...
  local name=$1 nsswitch=$2 resolv=$3
  shift 3
  mkdir -p "$tmp/$name"
  local mounts=""
  [ "$nsswitch" = - ] || mounts+="mount --bind $nsswitch /etc/nsswitch.conf && "
  [ "$resolv" = - ] || mounts+="mount --bind $resolv /etc/resolv.conf && "
  # One process from here on: each step execs the next, so $! is the program's id.
  (cd "$tmp/$name" && exec env XDG_DATA_HOME="$tmp/$name" XDG_CONFIG_HOME="$tmp/$name" \
    ip netns exec "$lab-n" unshare -m sh -c "${mounts}exec \"\$0\" \"\$@\"" "$build/trelvane" "$@" \
    >"$tmp/$name.log" 2>&1) &
  pids+=($!)
}
printf 'hosts: files\n' >"$tmp/nsswitch-files"
printf 'hosts: files dns\n' >"$tmp/nsswitch-dns"
# 10.199.77.3 answers nothing, and no name server listens there: every query is refused.
printf 'nameserver 10.199.77.3\noptions timeout:1 attempts:1\n' >"$tmp/resolv-lab"

tray_icon_geometry() {  # "WxH+X+Y" of the program's icon in trayer's panel, on the screen
  xwininfo -root -tree 2>/dev/null | awk '/"panel"/ {panel = 1; next}
    panel && /"trelvane": [(]"trelvane"/ { split($(NF-1), s, "[x+]"); print s[1] "x" s[2] $NF; exit }'
}
has_tray_icon() { [ -n "$(tray_icon_geometry)" ]; }
# The icon's mark, from its pixels: "red", "green" or "none".
tray_mark() {
  local geometry=$1 shot=$2
  xwd -silent -root | convert xwd:- -crop "$geometry" +repage "$shot"
  convert "$shot" txt:- | awk -F'[(),]' 'NR > 1 {
      r = $3 + 0; g = $4 + 0; b = $5 + 0
      if (r > 170 && g < 60 && b < 60) red++
      if (g > 120 && r < 60 && b < 60) green++ }
    END { print (red > 4 ? "red" : green > 4 ? "green" : "none") }'
}
window_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -1; }
has_window() { [ -n "$(window_of "$1")" ]; }

started=$SECONDS
echo "== the three programs start"
start b - - 10.199.77.8
program_b=$!
# C waits without a notification area of its own; A's window stays on screen: the panel shows
# B's icon alone.
QT_QPA_PLATFORM=offscreen start c "$tmp/nsswitch-dns" "$tmp/resolv-lab" trelvane-absent.test
start a "$tmp/nsswitch-files" -
program_a=$!
until_true 10 has_tray_icon || fail "B: no tray icon"
until_true 10 has_window "$program_a" || fail "A: no window"
window_a=$(window_of "$program_a")
xdotool windowactivate --sync "$window_a" mousemove --window "$window_a" 120 25 click 1
xdotool key --clearmodifiers ctrl+a type trelvane-nowhere.test
xdotool key Return

echo "== B: up, then the lab drops everything"
until_true 20 grep -q -a -E ' 0 2[01]'$'\r' "$tmp/b/trelvane/trelvane.txt" || fail "B: no measurement"
mark() { tray_mark "$(tray_icon_geometry)" "$build/screenshots/alerts-tray-$1.png"; }
marked() { [ "$(mark "$2")" = "$1" ]; }  # marked COLOUR SHOT
until_true 5 marked green up || fail "B: no green mark after a clean measurement: $(mark up)"
"$here/../network/netlab.sh" fault "$lab" drop
echo "ok: green mark after $((SECONDS - started)) s"

echo "== A: a name that does not exist is said, not notified"
until_true 20 grep -q -a -E ' 100 2000'$'\r' "$tmp/a/trelvane/trelvane.txt" || fail "A: no measurement"
sleep 0.5
xwd -silent -id "$window_a" | convert xwd:- -scale 300% "$build/screenshots/alerts-no-such-host.png"
tesseract "$build/screenshots/alerts-no-such-host.png" - 2>/dev/null | tr '\n' ' ' >"$tmp/ocr-a.txt"
grep -q -i "introuvable" "$tmp/ocr-a.txt" || fail "A: no 'Hôte introuvable !': $(cat "$tmp/ocr-a.txt")"
echo "ok: A says the host cannot be found"

echo "== B: an outage within three bursts, and its end"
until_true 200 notified "Coupure : 10.199.77.8" || fail "B: no outage notified"
echo "ok: outage notified after $((SECONDS - started)) s"
until_true 5 marked red down || fail "B: no red mark during the outage: $(mark down)"
"$here/../network/netlab.sh" fault "$lab" clear
until_true 75 notified "Rétabli : 10.199.77.8" || fail "B: no recovery notified"
grep -q -F 'string "Coupure de 2 min (' "$tmp/notify.log" || fail "B: the recovery's length"
[ "$(replaced_id_of "Rétabli : 10.199.77.8")" != 0 ] || fail "B: the recovery replaced nothing"
until_true 5 marked green back || fail "B: no green mark after the recovery: $(mark back)"
echo "ok: recovery notified after $((SECONDS - started)) s"

echo "== each told once; C's unreachable resolver is an outage, A's missing name is not"
# The trace taken as the outage began replaces its notice once, adding the last hop that
# answered (none: the lab drops everything; C's host has no address).
traced() {  # traced SUMMARY: told twice, the second replacing the first and naming the hop
  [ "$(notices "$1")" = 2 ] && [ "$(replaced_id_of "$1")" != 0 ] &&
    grep -a -A2 -F "string \"$1\"" "$tmp/notify.log" | tail -n 2 | grep -q "Aucun saut joignable"
}
traced "Coupure : 10.199.77.8" || fail "B: the outage not told once, then with its trace"
[ "$(notices "Rétabli : 10.199.77.8")" = 1 ] || fail "B: the recovery told more than once"
traced "Coupure : trelvane-absent.test" || fail "C: the outage not told once, then with its trace"
[ "$(grep -a -c trelvane-nowhere "$tmp/notify.log")" = 0 ] || fail "A: a missing name notified"
[ "$(grep -c -a ' 100 2000' "$tmp/a/trelvane/trelvane.txt")" -ge 3 ] || fail "A: too few bursts"
echo "ok"

echo "== B: Qt's own dialogs in French, and Stop takes the mark away"
geometry=$(tray_icon_geometry)
place=${geometry#*+}
xdotool mousemove $((${place%+*} + 8)) $((${place#*+} + 8)) click 1
until_true 5 has_window "$program_b" || fail "B: the window did not come back"
window_b=$(window_of "$program_b")
xdotool windowactivate --sync "$window_b" mousemove --window "$window_b" 390 150 click 3
sleep 0.5
xdotool key Down Down Return
dialog() { xdotool search --onlyvisible --name "Enregistrer l'image" 2>/dev/null | head -1; }
has_dialog() { [ -n "$(dialog)" ]; }
until_true 5 has_dialog || fail "B: no save dialog"
sleep 1
xwd -silent -id "$(dialog)" | convert xwd:- -scale 200% "$build/screenshots/alerts-save-dialog.png"
tesseract "$build/screenshots/alerts-save-dialog.png" - 2>/dev/null | tr '\n' ' ' >"$tmp/ocr-b.txt"
grep -q -E "Annuler|Enregistrer" "$tmp/ocr-b.txt" || fail "B: the dialog is not French: $(cat "$tmp/ocr-b.txt")"
xdotool key Escape
until_true 5 eval '! has_dialog' || fail "B: the dialog stays"
xdotool mousemove --window "$window_b" 148 60 click 1
xdotool windowminimize "$window_b"
until_true 5 has_tray_icon || fail "B: no tray icon after Stop"
until_true 5 marked none stopped || fail "B: a mark after Stop: $(mark stopped)"
echo "all done in $((SECONDS - started)) s (screenshots in $build/screenshots)"
