#!/usr/bin/env bash
# The time of a 30-hop trace whose far end is silent, next to the lab's physical limit: the slowest
# hop's timeout (2,000 ms), as every hop limit is in flight at once. In the router lab (needs root).
# Usage: bench/run_trace_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
[ "$(id -u)" = 0 ] || { echo "the lab needs root" >&2; exit 1; }
lab=tc$$
trap '"$here/../tests/network/tracelab.sh" down "$lab"' EXIT
"$here/../tests/network/tracelab.sh" up "$lab" "$here/../tests/network/echo_responder.py"
trace_ms() {  # the median of five traces, in ms
  local times=() start
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    ip netns exec "$lab-n" "$build/trelvane" --trace "$1" >/dev/null
    times+=($((($(date +%s%N) - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}
for socket in datagram raw; do
  range=$([ $socket = datagram ] && echo "0 2147483647" || echo "1 0")
  ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="$range"
  "$here/../tests/network/tracelab.sh" clear "$lab"
  reached=$(trace_ms 10.201.2.8)
  "$here/../tests/network/tracelab.sh" blackhole "$lab"
  silent=$(trace_ms 10.201.2.8)
  silent6=$(trace_ms fd00:201:2::8)
  echo "$socket socket: far end answering (20.5 ms) $reached ms; silent, 30 hops: IPv4 $silent ms" \
    "= $(awk -v a="$silent" 'BEGIN {printf "%.3f", a / 2000}') x the 2,000 ms timeout, IPv6 $silent6 ms" \
    "(one hop after another: 30 x 3 x 2,000 ms = 180,000 ms)"
done
