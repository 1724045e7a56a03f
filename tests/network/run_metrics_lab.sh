#!/usr/bin/env bash
# Runs metrics_lab.py inside the near namespace of a lab of its own. Exit 77 (skipped) when the lab
# or the Prometheus programs are not there. Usage: run_metrics_lab.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
source=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lab_checks.sh"

for program in prometheus promtool prometheus-node-exporter; do
  command -v $program >/dev/null || skip "$program is not installed"
done
lab=tm$$
need_lab "$lab"

trap '"$here/netlab.sh" down "$lab"' EXIT
"$here/netlab.sh" up "$lab" "$here/echo_responder.py" || { echo "lab set-up failed"; exit 1; }
ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="0 2147483647"
timeout 200 ip netns exec "$lab-n" python3 "$here/metrics_lab.py" "$build" "$source" 10.199.77
