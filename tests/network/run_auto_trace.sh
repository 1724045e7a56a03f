#!/usr/bin/env bash
# Runs auto_trace.py in a router lab of its own (two minutes of the real cycle). Exit 77 (skipped)
# when the lab cannot be built. Usage: run_auto_trace.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lab_checks.sh"
lab=ta$$
need_lab "$lab"
trap '"$here/tracelab.sh" down "$lab"' EXIT
"$here/tracelab.sh" up "$lab" "$here/echo_responder.py" || { echo "lab set-up failed"; exit 1; }
ip netns exec "$lab-n" sysctl -q -w net.ipv4.ping_group_range="0 2147483647"
timeout 240 ip netns exec "$lab-n" python3 "$here/auto_trace.py" "$build" "$here/tracelab.sh" "$lab"
