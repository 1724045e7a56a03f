#!/usr/bin/env bash
# The program's command line without a display or a network: help, version, usage errors.
set -u
program=$1
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
check() {  # check NAME EXPECTED_STATUS STDOUT_PATTERN STDERR_PATTERN -- ARGS...
  local name=$1 want=$2 out_pattern=$3 err_pattern=$4; shift 5
  local out err rc
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$program" "$@" 2>"$tmp/err"); rc=$?
  err=$(cat "$tmp/err")
  if [ "$rc" != "$want" ] || ! grep -q -E -- "$out_pattern" <<<"$out" ||
     ! grep -q -E -- "$err_pattern" <<<"$err"; then
    echo "FAILED $name: status $rc"; echo "stdout: $out"; echo "stderr: $err"; failed=1
  else
    echo "ok $name"
  fi
}
check help 0 '^Usage: trelvane \[--history FILE\] \[METRICS\] \[HOST\]' '^$' -- --help
# No display: one line that names what works without one, status 1 (not Qt's abort); the same for
# an X server that is not there.
check no-display 1 '^$' '^trelvane: no display.*--headless HOST.*--burst HOST.*--report"$' -- \
  127.0.0.1
DISPLAY=:97 check display-refused 1 '^$' '^trelvane: no display.*--headless HOST' -- 127.0.0.1
[ "$(DISPLAY=:97 "$program" 127.0.0.1 2>&1 | wc -l)" = 1 ] || { echo "FAILED: not one line"; failed=1; }
check headless-needs-host 2 '^$' '--headless needs a host' -- --headless
check quiet-needs-headless 2 '^$' '--quiet goes with --headless' -- --quiet host
check headless-is-no-report 2 '^$' 'no other mode' -- --headless --report
check metrics-bad-address 2 '^$' 'needs PORT, ADDRESS:PORT' -- --metrics-listen ::1:80 host
check metrics-bad-port 2 '^$' "'x:70000'" -- --headless --metrics-listen x:70000 host
check metrics-not-for-reports 2 '^$' 'go with a window' -- --metrics-file m --report
check metrics-not-for-exports 2 '^$' 'go with a window' -- --metrics-listen 9105 --export
# Headless with a history it cannot write (a folder in its place): told once, the measurements
# still on stdout; SIGTERM ends it with status 0.
if [ "$(id -u)" = 0 ] || [ "$(sysctl -n net.ipv4.ping_group_range 2>/dev/null)" != "1	0" ]; then
  mkdir "$tmp/folder.txt"
  env -u DISPLAY -u WAYLAND_DISPLAY "$program" --headless --history "$tmp/folder.txt" 127.0.0.1 \
    >"$tmp/out" 2>"$tmp/err" &
  headless=$!
  for _ in $(seq 50); do grep -q . "$tmp/out" && break; sleep 0.1; done
  kill -TERM $headless
  wait $headless
  rc=$?
  if [ $rc = 0 ] && [ "$(grep -c "cannot write $tmp/folder.txt" "$tmp/err")" = 1 ] &&
     grep -q -E '^[0-9/]{10}-[0-9:]{5} 0 [0-9]+$' "$tmp/out"; then
    echo "ok headless-history-not-writable"
  else
    echo "FAILED headless-history-not-writable: status $rc"; cat "$tmp/out" "$tmp/err"; failed=1
  fi
  # The window feeds the same figures: served while it waits in the tray (offscreen here).
  port=$((20000 + $$ % 10000))
  QT_QPA_PLATFORM=offscreen "$program" --history "$tmp/window.txt" \
    --metrics-listen "127.0.0.1:$port" 127.0.0.1 >/dev/null 2>"$tmp/window-err" &
  window=$!
  scraped=$(python3 - "$port" <<'PY'
import sys, time, urllib.request
for _ in range(100):
    try:
        text = urllib.request.urlopen("http://127.0.0.1:%s/metrics" % sys.argv[1], timeout=1).read()
        if b'trelvane_requests_total{target="127.0.0.1",address="127.0.0.1"} 24' in text:
            print("scraped")
            break
    except OSError:
        pass
    time.sleep(0.1)
PY
)
  kill $window
  wait $window 2>/dev/null
  if [ "$scraped" = scraped ]; then echo "ok window-metrics"; else
    echo "FAILED window-metrics"; cat "$tmp/window-err"; failed=1; fi
else
  echo "SKIPPED headless-history-not-writable, window-metrics: no ICMP socket for this user"
fi
check metrics-address-taken 1 '^$' 'cannot serve metrics at 192.0.2.1:9' -- \
  --headless --history "$tmp/h.txt" --metrics-listen 192.0.2.1:9 host
XDG_DATA_HOME=/somewhere check help-names-the-history-file 0 \
  '^History file here: /somewhere/trelvane/trelvane.txt' '^$' -- --help
check version 0 "^trelvane $2\$" '^$' -- --version
check burst-without-host 2 '^$' 'needs a host' -- --burst
check burst-with-blank-host 2 '^$' '^Essayez « trelvane --help »\.$' -- --burst "   "
# Reports: a file that cannot be read, or that is no history, or a run key no run has, is status
# 1; a wrong option, date or threshold status 2 (one line and where to look, not the whole help);
# a history with no measurement a report that says so.
check report-missing-file 1 '^$' "cannot read $tmp/none.txt" -- --report "$tmp/none.txt"
check report-bad-date 2 '^$' 'not a date' -- --report --since 2026-02-30 "$tmp/none.txt"
check report-bad-threshold 2 '^$' 'loss threshold' -- --report --loss-threshold 0 "$tmp/none.txt"
check report-bad-format 2 '^$' 'not a format' -- --report --format xml
check export-is-never-text 2 '^$' 'csv or json only' -- --export --format text
printf '++++++++++ D\xe9marrage de l'"'"'application : 06/12/2026 - 09:15:00\r\n' >"$tmp/started.txt"
check report-no-measurement 0 'Aucune mesure' '^$' -- --report "$tmp/started.txt"
check export-no-measurement 0 '^run,datetime,loss_percent,response_ms,answered_of_24' '^$' -- \
  --export "$tmp/started.txt"
printf 'Dear provider,\nmy line drops.\n' >"$tmp/letter.txt"
: >"$tmp/empty.txt"
check report-not-a-history 1 '^$' "letter.txt n'est pas un historique Trelvane" -- \
  --report "$tmp/letter.txt"
check export-empty-file 1 '' "empty.txt n'est pas un historique Trelvane" -- --export "$tmp/empty.txt"
printf '***** 06/12/2026 - 09:15:02\r\n06/12/2026-09:15 0 23\r\n***** 07/12/2026 - 18:00:00\r\n' \
  >"$tmp/runs.txt"
printf '07/12/2026-18:00 4 20\r\n' >>"$tmp/runs.txt"
check report-no-such-run 1 '^$' \
  'no run of .* has the key "06/12/2026 - 09:15:03"; the closest: "06/12/2026 - 09:15:02", "07/12' \
  -- --report --run "06/12/2026 - 09:15:03" "$tmp/runs.txt"
check report-side-by-side 0 '^Rapport Trelvane : 2 sources côte à côte$' '^$' -- \
  --report "$tmp/runs.txt" --history "$tmp/started.txt"
check export-one-file 2 '^$' 'one history file' -- --export "$tmp/runs.txt" "$tmp/started.txt"
check export-json-lines 0 \
  '^\{"run":"07/12/2026 - 18:00:00","datetime":"2026-12-07T18:00[+-][0-9:]{5}","loss_percent":4,"response_ms":20,"answered_of_24":23,"host":null\}$' \
  '^$' -- --export --format json --run "07/12/2026 - 18:00:00" "$tmp/runs.txt"

# Without a display: a word that is no option of ours is a usage error, not a host.
check unknown-long-option 2 '^$' "unrecognized option '--bogus'" -- --bogus
check unknown-short-option 2 '^$' '^Essayez' -- -v

# One running window per history file: a second start with a host is refused (status 3), one
# without a host hands over to the running window (status 0).
# No trelvane.txt in the working folder: the history goes to the data folder.
mkdir "$tmp/work"
export XDG_DATA_HOME=$tmp/xdg
history=$XDG_DATA_HOME/trelvane/trelvane.txt
(cd "$tmp/work" && exec env QT_QPA_PLATFORM=offscreen "$program" >"$tmp/first.log" 2>&1) &
first=$!
for _ in $(seq 100); do [ -f "$history.lock" ] && break; sleep 0.05; done
second() { (cd "$tmp/work" && env QT_QPA_PLATFORM=offscreen "$program" "$@" 2>"$tmp/err"); }
second 10.0.0.1; rc=$?
if [ "$rc" = 3 ] && grep -q "in use by a running window (process $first)" "$tmp/err" &&
   grep -q -- "--history FILE HOST" "$tmp/err"; then
  echo "ok second-start-with-host"
else
  echo "FAILED second-start-with-host: status $rc"; cat "$tmp/err"; failed=1
fi
second; rc=$?
if [ "$rc" = 0 ] && ! grep -q trelvane: "$tmp/err" && [ "$(grep -c '^+++++' "$history")" = 1 ]; then
  echo "ok second-start-without-host"
else
  echo "FAILED second-start-without-host: status $rc"; cat "$tmp/err"; failed=1
fi
# Another file of its own: not refused; its lock and its history beside it.
(cd "$tmp/work" && exec env QT_QPA_PLATFORM=offscreen "$program" --history "$tmp/own.txt" \
  >"$tmp/own.log" 2>&1) &
own=$!
for _ in $(seq 100); do [ -s "$tmp/own.txt" ] && [ -f "$tmp/own.txt.lock" ] && break; sleep 0.05; done
if kill -0 "$own" 2>/dev/null && grep -q -a '^++++++++++ D' "$tmp/own.txt" && [ -f "$tmp/own.txt.lock" ]; then
  echo "ok a-history-of-its-own"
else
  echo "FAILED a-history-of-its-own"; cat "$tmp/own.log"; failed=1
fi
kill "$own"; wait "$own" 2>/dev/null
kill "$first"; wait "$first" 2>/dev/null
# A lock left by a program that is gone (ended by a signal: nothing cleaned up) is taken over.
[ -f "$history.lock" ] || { echo "FAILED: the lock went with its holder"; failed=1; }
(cd "$tmp/work" && exec env QT_QPA_PLATFORM=offscreen "$program" >"$tmp/third.log" 2>&1) &
third=$!
sleep 1
if kill -0 "$third" 2>/dev/null; then echo "ok stale-lock-taken-over"; else
  echo "FAILED stale-lock-taken-over"; cat "$tmp/third.log"; failed=1; fi
kill "$third"; wait "$third" 2>/dev/null
exit $failed
