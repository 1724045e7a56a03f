#!/usr/bin/env bash
# Builds the namespace lab and runs the prober benchmark inside it (needs root).
# Usage: bench/run_probe_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ "$(id -u)" = 0 ] || { echo "the lab needs root" >&2; exit 1; }
lab=tb$$
trap '"$here/../tests/network/netlab.sh" down "$lab"' EXIT
"$here/../tests/network/netlab.sh" up "$lab" "$here/../tests/network/echo_responder.py"
mode=${ICMP_SOCKET:-datagram}
if [ "$mode" = datagram ]; then range="0 2147483647"; else range="1 0"; fi
ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="$range"
echo "socket: $mode"
TRELVANE_LAB=10.199.77 ip netns exec "$lab-n" "$build/bench/probe_bench"
