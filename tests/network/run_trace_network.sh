#!/usr/bin/env bash
# `trelvane --trace` through a real router (tracelab.sh), on the datagram socket and on the raw
# fallback, IPv4 and IPv6: the hops of a healthy path, forged "time exceeded" that never become a
# hop, a silent far end (the trace ends at the router, in about one timeout), and a routing loop.
# Exit 77 (skipped) when the lab cannot be built. Usage: run_trace_network.sh BUILD_DIR
set -uo pipefail

build=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lab_checks.sh"
lab=tr$$
need_lab "$lab"
trap '"$here/tracelab.sh" down "$lab"' EXIT
"$here/tracelab.sh" up "$lab" "$here/echo_responder.py" || { echo "lab set-up failed"; exit 1; }
failed=0

# The hops' addresses of a trace, one a line ('*' for a silent hop), and its exit status.
hops() {
  timeout 20 ip netns exec "$lab-n" "$build/trelvane" --trace "$1" |
    awk 'NR > 1 { print ($2 == "*" && $3 == "*" && $4 == "*") ? "*" : $2 }' | paste -s -d ' '
}
expect() {  # expect NAME WANTED HOST
  local got
  got=$(hops "$3")
  if [ "$got" = "$2" ]; then echo "ok $mode $1"; else
    echo "FAILED $mode $1: wanted [$2], got [$got]"; failed=1
  fi
}
stars() { printf ' *%.0s' $(seq "$1"); }
loop4=$(for _ in $(seq 15); do printf '10.201.1.2 10.201.2.8 '; done)
# The router answers with its address towards near first, then, in the loop, towards far.
loop6="fd00:201:1::2 $(for _ in $(seq 15); do printf 'fd00:201:2::b fd00:201:2::1 '; done)"

for mode in datagram raw; do
  range=$([ $mode = datagram ] && echo "0 2147483647" || echo "1 0")
  ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="$range"
  expect "path, IPv4" "10.201.1.2 10.201.2.8" 10.201.2.8
  expect "path, IPv6" "fd00:201:1::2 fd00:201:2::8" fd00:201:2::8
  expect "forged time exceeded, IPv4" "10.201.1.2 10.201.2.11" 10.201.2.11
  expect "forged time exceeded, IPv6" "fd00:201:1::2 fd00:201:2::b" fd00:201:2::b
  "$here/tracelab.sh" blackhole "$lab"
  start=$(date +%s%N)
  expect "silent far end, IPv4" "10.201.1.2$(stars 29)" 10.201.2.8
  took_ms=$((($(date +%s%N) - start) / 1000000))
  if [ $took_ms -le 3000 ]; then echo "ok $mode 30 hops in $took_ms ms"; else
    echo "FAILED $mode: 30 hops took $took_ms ms"; failed=1
  fi
  expect "silent far end, IPv6" "fd00:201:1::2$(stars 29)" fd00:201:2::8
  "$here/tracelab.sh" clear "$lab"
done
"$here/tracelab.sh" loop "$lab"
for mode in datagram raw; do
  range=$([ $mode = datagram ] && echo "0 2147483647" || echo "1 0")
  ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="$range"
  expect "routing loop, IPv4" "${loop4% }" 10.201.9.9
  expect "routing loop, IPv6" "$(echo $loop6 | cut -d' ' -f1-30)" fd00:201:9::9
done
exit $failed
