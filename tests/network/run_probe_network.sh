#!/usr/bin/env bash
# Runs the real-ICMP tests in a namespace lab of their own, once on the datagram socket and once on
# the raw fallback, plus the unprivileged terminal burst. Exit 77 (skipped) when the lab cannot be
# built. Usage: run_probe_network.sh BUILD_DIR
set -uo pipefail

build=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lab_checks.sh"

command -v ping >/dev/null || skip "iputils ping (the foreign flood) is not installed"
lab=tv$$
need_lab "$lab"

cleanup() { "$here/netlab.sh" down "$lab"; rm -rf "${tmp:-}"; }
trap cleanup EXIT
"$here/netlab.sh" up "$lab" "$here/echo_responder.py" || { echo "lab set-up failed"; exit 1; }
near=$lab-n
failed=0

run_in_near() { timeout 300 ip netns exec "$near" "$@"; }

# One socket kind: the IPv4 and the IPv6 tests side by side (the responder keeps the families
# apart), then the floods alone, which would disturb the others' timing.
run_tests() {  # run_tests EXPECTED_SOCKET
  local test=$build/tests/probe_network_test status=0
  export TRELVANE_LAB=10.199.77 TRELVANE_EXPECT_SOCKET=$1
  local floods='*HeavyForeign*'
  run_in_near "$test" --gtest_filter="*IPv4:ProbeNetworkTest.*-$floods" >"$tmp/v4.log" 2>&1 &
  local v4=$!
  run_in_near "$test" --gtest_filter="*IPv6-$floods" >"$tmp/v6.log" 2>&1 &
  local v6=$!
  wait "$v4" || status=1
  wait "$v6" || status=1
  if [ "$status" = 0 ]; then
    cat "$tmp/v4.log" "$tmp/v6.log" | grep -E '^\[ +(OK|PASSED) ' || true
  else  # all of it, so that a figure out of range is seen
    cat "$tmp/v4.log" "$tmp/v6.log"
  fi
  run_in_near "$test" --gtest_filter="$floods" || status=1
  return $status
}

tmp=$(mktemp -d)
echo "== datagram ICMP socket (ping_group_range open)"
run_in_near sysctl -q -w net.ipv4.ping_group_range="0 2147483647"
run_tests datagram || failed=1

echo "== raw ICMP socket (ping_group_range closed)"
run_in_near sysctl -q -w net.ipv4.ping_group_range="1 0"
run_tests raw || failed=1

# The terminal burst as an unprivileged user: no socket at all, then the datagram socket.
chmod 755 "$tmp"
cp "$build/trelvane" "$tmp/"
as_nobody() { run_in_near setpriv --reuid=65534 --regid=65534 --clear-groups "$tmp/trelvane" "$@"; }

echo "== unprivileged, ping_group_range closed: Err, one hint and status 4"
out=$(as_nobody --burst 127.0.0.1 2>"$tmp/err"); rc=$?
errs=$(grep -c '^Err$' <<<"$out")
hints=$(grep -c 'ping_group_range' "$tmp/err")
if [ "$rc" = 4 ] && [ "$errs" = 24 ] && [ "$hints" = 1 ] && grep -q ' 100 2000$' <<<"$out"; then
  echo "ok"
else
  echo "FAILED: rc=$rc, $errs Err lines, $hints hints"; cat "$tmp/err"; failed=1
fi

echo "== unprivileged, ping_group_range closed: a trace says the same, status 4"
out=$(as_nobody --trace 127.0.0.1 2>"$tmp/err"); rc=$?
if [ "$rc" = 4 ] && [ -z "$out" ] && grep -q 'ping_group_range' "$tmp/err"; then echo ok; else
  echo "FAILED: --trace rc=$rc"; echo "$out"; cat "$tmp/err"; failed=1; fi

echo "== unprivileged, ping_group_range closed: the same for IPv6"
out=$(as_nobody --burst ::1 2>"$tmp/err"); rc=$?
if [ "$rc" = 4 ] && [ "$(grep -c '^Err$' <<<"$out")" = 24 ]; then echo ok; else
  echo "FAILED: rc=$rc"; cat "$tmp/err"; failed=1; fi

echo "== unprivileged, ping_group_range open: answers"
run_in_near sysctl -q -w net.ipv4.ping_group_range="0 2147483647"
out=$(as_nobody --burst 10.199.77.8 2>"$tmp/err"); rc=$?
if [ "$rc" = 0 ] && [ "$(grep -c -E '^2[0-4] ms$' <<<"$out")" = 24 ] &&
   grep -q -E '^[0-9]{2}/[0-9]{2}/[0-9]{4}-[0-9]{2}:[0-9]{2} 0 2[01]$' <<<"$out"; then
  echo "ok"
else
  echo "FAILED: rc=$rc"; echo "$out"; cat "$tmp/err"; failed=1
fi
out=$(as_nobody --burst ::1 2>"$tmp/err"); rc=$?
if [ "$rc" = 0 ] && [ "$(grep -c -E '^[01] ms$' <<<"$out")" = 24 ]; then echo "ok (::1)"; else
  echo "FAILED: --burst ::1 rc=$rc"; echo "$out"; cat "$tmp/err"; failed=1; fi
exit $failed
