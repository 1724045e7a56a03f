#!/usr/bin/env bash
# A two-namespace test lab joined by a veth pair, with our scripted echo responder on the far side.
#
#   netlab.sh up NAME RESPONDER   creates NAME-n (10.199.77.1, fd00:199:77::1) and NAME-f
#                                 (10.199.77.2 to .10, fd00:199:77::2 to ::a),
#                                 turns off the far kernel's own echo replies and starts RESPONDER
#   netlab.sh fault NAME drop     the responder drops every request, as a dead link does
#   netlab.sh fault NAME clear    and answers again
#   netlab.sh down NAME           stops the responder and removes both namespaces
#
# Nothing is routed out of the lab: the namespaces have no other interface.
set -euo pipefail

action=$1
name=$2
near=$name-n
far=$name-f
prefix=10.199.77
prefix6=fd00:199:77:
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
  # IPv6 without duplicate address detection: usable at once.
  ip -n "$near" addr add "$prefix6:1/64" dev "${name}a" nodad
  for host in 2 3 4 5 6 7 8 9 10; do
    ip -n "$far" addr add "$prefix.$host/24" dev "${name}b"
    ip -n "$far" addr add "$prefix6:$(printf %x "$host")/64" dev "${name}b" nodad
  done
  ip -n "$near" link set "${name}a" up
  ip -n "$far" link set "${name}b" up
  # Fixed neighbour entries: no address resolution delays the first request to each host.
  mac=$(ip -n "$far" -o link show "${name}b" | grep -o -E 'link/ether [0-9a-f:]+' | cut -d' ' -f2)
  for host in 2 3 4 5 6 7 8 9 10; do
    ip -n "$near" neigh replace "$prefix.$host" lladdr "$mac" dev "${name}a" nud permanent
    ip -n "$near" neigh replace "$prefix6:$(printf %x "$host")" lladdr "$mac" dev "${name}a" \
      nud permanent
  done
  near_mac=$(ip -n "$near" -o link show "${name}a" | grep -o -E 'link/ether [0-9a-f:]+' | cut -d' ' -f2)
  ip -n "$far" neigh replace "$prefix6:1" lladdr "$near_mac" dev "${name}b" nud permanent
  # Names of the lab, seen only inside its namespaces (ip netns exec mounts /etc/netns/NAME/hosts
  # over /etc/hosts). trelvane-two.test has two addresses, the unroutable one first: the resolver's
  # order must be kept, not re-sorted to put the reachable one first. trelvane-six.test has only an
  # IPv6 address (measured over IPv6); trelvane-both.test has both, the IPv4 one unreachable
  # (measured over IPv4: Err, not the IPv6 host's answer).
  for ns in "$near" "$far"; do
    mkdir -p "/etc/netns/$ns"
    {
      cat /etc/hosts
      printf '10.250.9.1 trelvane-two.test\n%s.8 trelvane-two.test\n' "$prefix"
      printf '%s:8 trelvane-six.test\n' "$prefix6"
      printf '%s.4 trelvane-both.test\n%s:8 trelvane-both.test\n' "$prefix" "$prefix6"
    } >"/etc/netns/$ns/hosts"
  done
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1
  ip netns exec "$far" sysctl -q -w net.ipv6.icmp.echo_ignore_all=1
  ip netns exec "$far" sysctl -q -w net.ipv6.icmp.ratelimit=0
  # The far side must not rate-limit the errors our responder scripts, nor answer them itself.
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_ratelimit=0
  mkdir -p "$state"
  TRELVANE_LAB_FAULT_FILE=$state/fault ip netns exec "$far" "$responder" 600 \
    >"$state/responder.log" 2>&1 &
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
fault)
  case $3 in
  drop) : >"$state/fault" ;;
  clear) rm -f "$state/fault" ;;
  *) echo "netlab.sh fault NAME drop|clear" >&2; exit 2 ;;
  esac
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
  echo "usage: netlab.sh up NAME RESPONDER | fault NAME drop|clear | down NAME" >&2
  exit 2
  ;;
esac
