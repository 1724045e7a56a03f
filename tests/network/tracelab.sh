#!/usr/bin/env bash
# A three-namespace test lab with a router between, so that hops are real:
#
#   NAME-n (near)  10.201.1.1  fd00:201:1::1
#      |
#   NAME-r (router) 10.201.1.2  fd00:201:1::2 | 10.201.2.1  fd00:201:2::1   (forwards)
#      |
#   NAME-f (far)   10.201.2.8  fd00:201:2::8 (answered after 20.5 ms), 10.201.2.11  fd00:201:2::b
#                  (forged "time exceeded" first): our scripted echo responder answers them
#
#   tracelab.sh up NAME RESPONDER   creates the lab and starts RESPONDER in far
#   tracelab.sh blackhole NAME      far answers nothing any more, as a dead line beyond the router
#   tracelab.sh clear NAME          and answers again
#   tracelab.sh loop NAME           10.201.9.0/24 and fd00:201:9::/64 bounce between router and far
#   tracelab.sh down NAME           stops the responder and removes the namespaces
#
# Nothing is routed out of the lab: the namespaces have no other interface.
set -euo pipefail

action=$1
name=$2
near=$name-n
router=$name-r
far=$name-f
state=/tmp/trelvane-tracelab-$name

quiet_icmp() {  # no rate limit on the errors and replies a namespace sends
  ip netns exec "$1" sysctl -q -w net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0 \
    net.ipv4.icmp_msgs_per_sec=100000 net.ipv4.icmp_msgs_burst=100000
}

case $action in
up)
  responder=$3
  for ns in "$near" "$router" "$far"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    quiet_icmp "$ns"
  done
  ip link add "${name}a" type veth peer name "${name}b"
  ip link add "${name}c" type veth peer name "${name}d"
  ip link set "${name}a" netns "$near"
  ip link set "${name}b" netns "$router"
  ip link set "${name}c" netns "$router"
  ip link set "${name}d" netns "$far"
  ip -n "$near" addr add 10.201.1.1/24 dev "${name}a"
  ip -n "$near" addr add fd00:201:1::1/64 dev "${name}a" nodad
  ip -n "$router" addr add 10.201.1.2/24 dev "${name}b"
  ip -n "$router" addr add fd00:201:1::2/64 dev "${name}b" nodad
  ip -n "$router" addr add 10.201.2.1/24 dev "${name}c"
  ip -n "$router" addr add fd00:201:2::1/64 dev "${name}c" nodad
  for host in 8 11; do
    ip -n "$far" addr add "10.201.2.$host/24" dev "${name}d"
    ip -n "$far" addr add "fd00:201:2::$(printf %x $host)/64" dev "${name}d" nodad
  done
  for link in "$near ${name}a" "$router ${name}b" "$router ${name}c" "$far ${name}d"; do
    set -- $link
    ip -n "$1" link set "$2" up
  done
  ip -n "$near" route add default via 10.201.1.2
  ip -n "$near" -6 route add default via fd00:201:1::2
  ip -n "$far" route add default via 10.201.2.1
  ip -n "$far" -6 route add default via fd00:201:2::1
  ip netns exec "$router" sysctl -q -w net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1
  mkdir -p "$state"
  TRELVANE_LAB_FAULT_FILE=$state/fault ip netns exec "$far" "$responder" 900 \
    >"$state/responder.log" 2>&1 &
  echo $! >"$state/responder.pid"
  for _ in $(seq 50); do
    grep -q ready "$state/responder.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q ready "$state/responder.log"
  # The first packets resolve the neighbours; after this none waits for it.
  for _ in $(seq 50); do
    ip netns exec "$near" ping -c 1 -W 1 10.201.2.8 >/dev/null 2>&1 &&
      ip netns exec "$near" ping -6 -c 1 -W 1 fd00:201:2::8 >/dev/null 2>&1 && break
    sleep 0.1
  done
  ;;
blackhole)
  : >"$state/fault"
  ;;
clear)
  rm -f "$state/fault"
  ;;
loop)
  ip netns exec "$far" sysctl -q -w net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  ip -n "$router" route replace 10.201.9.0/24 via 10.201.2.8
  ip -n "$router" -6 route replace fd00:201:9::/64 via fd00:201:2::8
  ;;
down)
  if [ -f "$state/responder.pid" ]; then
    kill "$(cat "$state/responder.pid")" 2>/dev/null || true
  fi
  rm -rf "$state"
  for ns in "$near" "$router" "$far"; do ip netns del "$ns" 2>/dev/null || true; done
  ;;
*)
  echo "usage: tracelab.sh up NAME RESPONDER | blackhole|clear|loop|down NAME" >&2
  exit 2
  ;;
esac
