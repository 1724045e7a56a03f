#!/usr/bin/env python3
"""A scripted ICMP echo responder for the network tests.

It runs in the far namespace of the test lab (whose kernel replies are switched off) and answers
each echo request, ICMP or ICMPv6 alike, as the last byte of the address it was sent to says:

  2   after 20.5 ms, dropping every fourth request to it
  3   never
  4   with "destination unreachable" after 1 ms
  5   at once with three wrong replies (identifier, sequence, payload), after 20.5 ms with the
      right one, and 5 ms later with a duplicate of it
  6   after 2,500 ms
  7   with "time exceeded in transit" after 20.5 ms
  8   after 20.5 ms
  9   after 20.5 ms, but only to requests with time-to-live 245 and payload "PINGECHOICMPTEST"
  10  at once with a forged "destination unreachable" that quotes the request's identifier and
      sequence but another destination, then after 20.5 ms with the reply
  11  at once with two forged "time exceeded in transit": one quotes the request with another
      identifier, the other another destination; then after 20.5 ms with the reply

Delays count from the kernel's receive stamp, so a responder that wakes late still answers on
time. While the file FAULT_FILE exists (the environment's TRELVANE_LAB_FAULT_FILE: netlab.sh's
"fault drop"), every request is dropped, as a dead link drops it. Usage: echo_responder.py SECONDS
(it ends by itself after that long, or on SIGTERM).
"""
import heapq
import itertools
import os
import select
import signal
import socket
import struct
import sys
import time

SO_TIMESTAMPNS = 35
IP_PKTINFO = 8
IPV6_RECVPKTINFO, IPV6_PKTINFO, IPV6_RECVHOPLIMIT, IPV6_HOPLIMIT = 49, 50, 51, 52
ICMP6_FILTER = 1
# Message types and codes, IPv4 then IPv6.
ECHO_REQUEST, ECHO_REPLY = {False: 8, True: 128}, {False: 0, True: 129}
UNREACHABLE = {False: (3, 1), True: (1, 3)}  # host / address unreachable
TIME_EXCEEDED = {False: (11, 0), True: (3, 0)}  # in transit

queue = []  # (due, order, socket, to, from address, message)
order = itertools.count()
requests_to = {}  # for the dropping of every fourth
FAULT_FILE = os.environ.get("TRELVANE_LAB_FAULT_FILE", "")


def summed(message, v6):
    """The message with its checksum set; ICMPv6's the kernel sets."""
    if v6:
        return message
    message = bytearray(message)
    message[2:4] = b"\0\0"
    padded = bytes(message) + b"\0" * (len(message) % 2)
    total = sum(struct.unpack(f"!{len(padded) // 2}H", padded))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    message[2:4] = struct.pack("!H", ~total & 0xFFFF)
    return bytes(message)


def send(sock, to, source, message):
    if sock.family == socket.AF_INET6:
        info = (socket.IPPROTO_IPV6, IPV6_PKTINFO, source + struct.pack("I", 0))
    else:
        info = (socket.IPPROTO_IP, IP_PKTINFO, struct.pack("i4s4s", 0, source, bytes(4)))
    try:
        sock.sendmsg([message], [info], 0, to)
    except OSError as error:
        print(f"echo_responder: sendmsg: {error}", file=sys.stderr)


def answer(sock):
    v6 = sock.family == socket.AF_INET6
    try:
        packet, ancillary, _, sender = sock.recvmsg(2048, 1024, socket.MSG_DONTWAIT)
    except BlockingIOError:
        return
    received, hops, destination = time.clock_gettime(time.CLOCK_REALTIME), 64, None
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
            seconds, nanoseconds = struct.unpack("qq", data[:16])
            received = seconds + nanoseconds / 1e9
        elif level == socket.IPPROTO_IPV6 and kind == IPV6_PKTINFO:
            destination = data[:16]
        elif level == socket.IPPROTO_IPV6 and kind == IPV6_HOPLIMIT:
            hops = struct.unpack("i", data[:4])[0]
    if v6:
        # An error quotes the request's IP header: an IPv6 socket does not give it, so it is
        # made again.
        header = struct.pack("!IHBB16s16s", 6 << 28, len(packet), socket.IPPROTO_ICMPV6, hops,
                             socket.inet_pton(socket.AF_INET6, sender[0]), destination)
        request = packet
    else:
        header = packet[: (packet[0] & 0x0F) * 4]
        hops, destination, request = packet[8], packet[16:20], packet[len(header):]
    if len(request) < 8 or request[0] != ECHO_REQUEST[v6] or destination is None:
        return
    if FAULT_FILE and os.path.exists(FAULT_FILE):
        return

    def schedule(delay_ms, message):
        heapq.heappush(queue, (received + delay_ms / 1000, next(order), sock, sender,
                               destination, summed(message, v6)))

    def error(type_code, elsewhere=False, other_id=False):
        quoted = bytearray(header)
        quoted[-1] = (quoted[-1] + 100 * elsewhere) % 256  # the destination's last byte
        quoted_request = bytearray(request)
        quoted_request[4] ^= 0x40 * other_id  # the identifier's high byte
        return bytes(type_code) + bytes(6) + bytes(quoted) + bytes(quoted_request)

    reply = bytes([ECHO_REPLY[v6]]) + request[1:]
    last = destination[-1]
    if last == 2:
        requests_to[v6] = requests_to.get(v6, 0) + 1
        if requests_to[v6] % 4 != 0:
            schedule(20.5, reply)
    elif last == 4:
        schedule(1, error(UNREACHABLE[v6]))
    elif last == 5:
        for byte in (4, 7, len(reply) - 1):  # identifier, sequence, payload
            wrong = bytearray(reply)
            wrong[byte] ^= 1
            schedule(0, bytes(wrong))
        schedule(20.5, reply)
        schedule(25.5, reply)
    elif last == 6:
        schedule(2500, reply)
    elif last == 7:
        schedule(20.5, error(TIME_EXCEEDED[v6]))
    elif last == 8:
        schedule(20.5, reply)
    elif last == 9:
        if hops == 245 and request[8:] == b"PINGECHOICMPTEST":
            schedule(20.5, reply)
    elif last == 10:
        schedule(0, error(UNREACHABLE[v6], elsewhere=True))
        schedule(20.5, reply)
    elif last == 11:
        schedule(0, error(TIME_EXCEEDED[v6], other_id=True))
        schedule(0, error(TIME_EXCEEDED[v6], elsewhere=True))
        schedule(20.5, reply)


def main():
    lifetime = float(sys.argv[1]) if len(sys.argv) > 1 else 300
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    v4 = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    v6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
    for sock in (v4, v6):
        sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    v6.setsockopt(socket.IPPROTO_IPV6, IPV6_RECVPKTINFO, 1)
    v6.setsockopt(socket.IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1)
    blocked = [0xFFFFFFFF] * 8
    blocked[ECHO_REQUEST[True] >> 5] &= ~(1 << (ECHO_REQUEST[True] & 31))  # requests only
    v6.setsockopt(socket.IPPROTO_ICMPV6, ICMP6_FILTER, struct.pack("8I", *blocked))
    try:  # keep the timing when the test machine is busy (root only; best effort)
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(50))
    except OSError:
        pass
    end = time.clock_gettime(time.CLOCK_REALTIME) + lifetime
    print("echo_responder: ready", flush=True)
    while not stop and time.clock_gettime(time.CLOCK_REALTIME) < end:
        now = time.clock_gettime(time.CLOCK_REALTIME)
        while queue and queue[0][0] <= now:
            _, _, sock, to, source, message = heapq.heappop(queue)
            send(sock, to, source, message)
        # Sleep to a little before the next due time, then poll without sleeping.
        wait = max(0.0, queue[0][0] - now - 0.0015) if queue else 0.1
        try:
            for sock in select.select([v4, v6], [], [], wait)[0]:
                answer(sock)
        except InterruptedError:
            pass


if __name__ == "__main__":
    main()
