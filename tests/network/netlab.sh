#!/usr/bin/env bash
# A two-namespace test lab joined by a veth pair, with our scripted echo responder on the far side.
#
#   netlab.sh up NAME RESPONDER   creates NAME-n (10.199.77.1) and NAME-f (10.199.77.2 to .10),
#                                 turns off the far kernel's own echo replies and starts RESPONDER
#   netlab.sh down NAME           stops the responder and removes both namespaces
#
# Nothing is routed out of the lab: the namespaces have no other interface.
set -euo pipefail

action=$1
name=$2
near=$name-n
far=$name-f
prefix=10.199.77
state=/tmp/trelvane-netlab-$name

case $action in
up)
  responder=$3
  ip netns add "$near"
  ip netns add "$far"
  ip link add "${name}a" type veth peer name "${name}b"
  ip link set "${name}a" netns "$near"
  ip link set "${name}b" netns "$far"
  ip -n "$near" link set lo up
  ip -n "$far" link set lo up
  ip -n "$near" addr add "$prefix.1/24" dev "${name}a"
  for host in 2 3 4 5 6 7 8 9 10; do
    ip -n "$far" addr add "$prefix.$host/24" dev "${name}b"
  done
  ip -n "$near" link set "${name}a" up
  ip -n "$far" link set "${name}b" up
  # Fixed neighbour entries: no address resolution delays the first request to each host.
  mac=$(ip -n "$far" -o link show "${name}b" | grep -o -E 'link/ether [0-9a-f:]+' | cut -d' ' -f2)
  for host in 2 3 4 5 6 7 8 9 10; do
    ip -n "$near" neigh replace "$prefix.$host" lladdr "$mac" dev "${name}a" nud permanent
  done
  # Names of the lab, seen only inside its namespaces (ip netns exec mounts /etc/netns/NAME/hosts
  # over /etc/hosts). trelvane-two.test has two addresses, the unroutable one first: the resolver's
  # order must be kept, not re-sorted to put the reachable one first.
  for ns in "$near" "$far"; do
    mkdir -p "/etc/netns/$ns"
    { cat /etc/hosts; printf '10.250.9.1 trelvane-two.test\n%s.8 trelvane-two.test\n' "$prefix"; } \
      >"/etc/netns/$ns/hosts"
  done
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1
  # The far side must not rate-limit the errors our responder scripts, nor answer them itself.
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_ratelimit=0
  mkdir -p "$state"
  ip netns exec "$far" "$responder" 600 >"$state/responder.log" 2>&1 &
  echo $! >"$state/responder.pid"
  for _ in $(seq 50); do
    grep -q ready "$state/responder.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q ready "$state/responder.log"
  # Wait for the link to come up (duplicate address detection does not apply to IPv4).
  for _ in $(seq 50); do
    ip netns exec "$near" ping -c 1 -W 1 "$prefix.8" >/dev/null 2>&1 && break
    sleep 0.1
  done
  ;;
down)
  if [ -f "$state/responder.pid" ]; then
    kill "$(cat "$state/responder.pid")" 2>/dev/null || true
  fi
  rm -rf "$state"
  ip netns del "$near" 2>/dev/null || true
  ip netns del "$far" 2>/dev/null || true
  rm -rf "/etc/netns/$near" "/etc/netns/$far"
  ;;
*)
  echo "usage: netlab.sh up NAME RESPONDER | down NAME" >&2
  exit 2
  ;;
esac
