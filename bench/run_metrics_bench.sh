#!/usr/bin/env bash
# Builds the namespace lab and runs the metrics benchmark inside it (needs root; two minutes).
# Usage: bench/run_metrics_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
[ "$(id -u)" = 0 ] || { echo "the lab needs root" >&2; exit 1; }
lab=tq$$
trap '"$here/../tests/network/netlab.sh" down "$lab"' EXIT
"$here/../tests/network/netlab.sh" up "$lab" "$here/../tests/network/echo_responder.py"
ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="0 2147483647"
ip netns exec "$lab-n" python3 "$here/metrics_bench.py" "$build" 10.199.77
