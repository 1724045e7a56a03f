# Sourced by the desktop tests and benchmarks: an X server of their own (Xvfb), optionally with a
# window manager (openbox) and a notification area (trayer), all torn down on exit with whatever
# was added to `pids` (the ids of what the test itself started, never processes found by name).
# Needs `build` set to the build directory.

tmp=$(mktemp -d)
pids=()
# The program's default history folder, inside the test's own folder: never the real home.
export XDG_DATA_HOME=$tmp/data
skip() { echo "SKIPPED: $*"; exit 77; }
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
  done
}
desktop_cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  cd / && rm -rf "$tmp"
}
trap desktop_cleanup EXIT

# Two tests starting servers at once can race for a display: a server that names its display but
# takes no client, or that is gone, is ended and another started.
start_xvfb() {
  local xvfb
  for _ in 1 2 3; do
    : >"$tmp/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
    xvfb=$!
    pids+=("$xvfb")
    for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$tmp/display")"
    # Our own server must answer: one that lost the display to another test's has exited, and
    # the display then answers for that other server, which ends with its test.
    for _ in $(seq 20); do
      xdotool getdisplaygeometry >/dev/null 2>&1 && sleep 0.2 && kill -0 "$xvfb" 2>/dev/null &&
        return 0
      sleep 0.1
    done
    kill "$xvfb" 2>/dev/null
  done
}

start_desktop() {
  start_xvfb
  openbox >"$tmp/openbox.log" 2>&1 &
  pids+=($!)
  sleep 0.5
  trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel --height 32 \
    >"$tmp/trayer.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xwininfo -root -tree | grep -q '"panel"' && break; sleep 0.1; done
}

visible_window() {
  xdotool search --onlyvisible --name 'Trelvane v0.4 par vElUdrak' 2>/dev/null | head -1
}
on_screen() { [ -n "$(visible_window)" ]; }
off_screen() { [ -z "$(visible_window)" ]; }
until_true() {  # until_true SECONDS COMMAND...
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.05
  done
}
# Opens the run list by its arrow (Combo1: 480, 4080, 2175 x 315 twips) and takes the first run.
choose_first_run() {
  xdotool mousemove --window "$1" 170 282 click 1
  sleep 0.5
  xdotool mousemove --window "$1" 80 303 click 1
  sleep 0.7
}
