#include "probe/linux/icmp_socket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "probe/linux/raw_filter.h"

namespace trelvane::linux_icmp {

std::int64_t NowNs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Sequence numbers are unique across the process's requests, so a late reply to an earlier
// request never matches a later one.
std::uint16_t NextSequence() {
  static std::atomic<std::uint16_t> sequence{static_cast<std::uint16_t>(std::random_device{}())};
  return sequence.fetch_add(1, std::memory_order_relaxed);
}

// The identifier of raw-socket requests; datagram sockets get theirs from the kernel.
std::uint16_t RawIdentifier() {
  static const auto id = static_cast<std::uint16_t>(getpid() ^ 0x5A5A);
  return id;
}

void ReportNoSocketOnce(int error) {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  if (error == EPERM || error == EACCES) {
    std::fprintf(stderr,
                 "trelvane: no ICMP socket may be opened (%s). Allow unprivileged echo requests "
                 "with: sysctl -w net.ipv4.ping_group_range=\"0 2147483647\" (as root), or give "
                 "the program raw sockets with: setcap cap_net_raw+ep <path to trelvane>\n",
                 std::strerror(error));
  } else {
    std::fprintf(stderr, "trelvane: no ICMP socket could be opened: %s\n", std::strerror(error));
  }
}

// Datagram first, raw second. The datagram socket fails with
//   EACCES  when our group is outside net.ipv4.ping_group_range (the default "1 0" allows nobody),
//   EPERM   on some kernels for the same reason,
//   EPROTONOSUPPORT / ESOCKTNOSUPPORT / EAFNOSUPPORT on kernels built without ping sockets;
// any of these sends us on to the raw socket. Returns the errno of the raw attempt on failure.
// The same holds for ICMPv6, which the same range governs.
std::unique_ptr<Socket> OpenIcmpSocket(bool v6, int& error) {
  const int family = v6 ? AF_INET6 : AF_INET;
  const int protocol = v6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
  int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
  if (fd >= 0) return std::make_unique<Socket>(fd, false);
  const int dgram_error = errno;
  if (dgram_error != EACCES && dgram_error != EPERM && dgram_error != EPROTONOSUPPORT &&
      dgram_error != ESOCKTNOSUPPORT && dgram_error != EAFNOSUPPORT) {
    error = dgram_error;
    return nullptr;
  }
  fd = socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
  if (fd >= 0) return std::make_unique<Socket>(fd, true);
  error = errno;
  return nullptr;
}

ClockReading ReadBothClocks() {
  return ClockReading{NowNs(CLOCK_REALTIME), NowNs(CLOCK_MONOTONIC)};
}

// Round-trip time from the kernel's receive stamp, unless the wall clock was stepped meanwhile.
EchoReply Answered(EchoStatus status, const InFlight& request, const timespec* received) {
  std::optional<std::int64_t> received_ns;
  if (received != nullptr) {
    received_ns = static_cast<std::int64_t>(received->tv_sec) * 1'000'000'000 + received->tv_nsec;
  }
  const std::int64_t rtt_ns = RoundTripNs(request.sent, received_ns, ReadBothClocks());
  EchoReply reply;
  reply.status = status;
  reply.round_trip_ms = static_cast<std::uint32_t>(rtt_ns / kNsPerMs);
  reply.round_trip_us = rtt_ns / 1000;
  return reply;
}

const timespec* FindTimestamp(msghdr& message, timespec& storage) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
        c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
      std::memcpy(&storage, CMSG_DATA(c), sizeof(timespec));
      return &storage;
    }
  }
  return nullptr;
}

ssize_t Receive(int fd, int flags, Received& in) {
  in.io = iovec{in.data.data(), in.data.size()};
  in.message.msg_name = &in.from;
  in.message.msg_namelen = sizeof(in.from);
  in.message.msg_iov = &in.io;
  in.message.msg_iovlen = 1;
  in.message.msg_control = in.control.data();
  in.message.msg_controllen = in.control.size();
  return recvmsg(fd, &in.message, flags | MSG_DONTWAIT);
}

// The address a message came from (or, for a queued error, the destination of the request it
// quotes), as the decoder compares it: 4 or 16 bytes. Empty when it is not of the family.
std::span<const std::uint8_t> SourceOf(const Received& in, Family family) {
  if (family == Family::kV6) {
    if (in.message.msg_namelen < sizeof(sockaddr_in6) || in.from.ss_family != AF_INET6) return {};
    return {reinterpret_cast<const std::uint8_t*>(&in.from) + offsetof(sockaddr_in6, sin6_addr),
            16};
  }
  if (in.message.msg_namelen < sizeof(sockaddr_in) || in.from.ss_family != AF_INET) return {};
  return {reinterpret_cast<const std::uint8_t*>(&in.from) + offsetof(sockaddr_in, sin_addr), 4};
}

// The text of a socket address of either family; empty for anything else.
std::string AddressTextOf(const sockaddr_storage& address, socklen_t size) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET && size >= sizeof(sockaddr_in)) {
    sockaddr_in in{};
    std::memcpy(&in, &address, sizeof(in));
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
  } else if (address.ss_family == AF_INET6 && size >= sizeof(sockaddr_in6)) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, &address, sizeof(in6));
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof(text));
  }
  return text;
}

void SetOption(int fd, int level, int name, int value) {
  setsockopt(fd, level, name, &value, sizeof(value));
}

// The receive time stamps, and what lets in the errors about our requests: the error queue of a
// datagram socket (without it, unreachable looks like a timeout), a raw socket's filter.
void PrepareToReceive(const Socket& socket, Family family) {
  const int fd = socket.fd();
  SetOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
  if (socket.raw()) {
    AttachRawFilter(fd, family, RawIdentifier());
  } else if (family == Family::kV6) {
    SetOption(fd, IPPROTO_IPV6, IPV6_RECVERR, 1);
  } else {
    SetOption(fd, IPPROTO_IP, IP_RECVERR, 1);
  }
}

std::optional<QueuedError> ReadQueuedError(int fd, Family family,
                                           std::span<const std::uint8_t> destination) {
  Received in;
  const ssize_t received = Receive(fd, MSG_ERRQUEUE, in);
  if (received < 0) return std::nullopt;
  // The kernel hands us errors that quote our identifier; the quoted request must also have gone
  // to the destination (the error's name), or a forged error could turn a healthy host into a
  // loss.
  const std::optional<icmp::Header> ours =
      icmp::ReadHeader({in.data.data(), static_cast<std::size_t>(received)});
  if (!ours || ours->type != icmp::EchoRequestType(family)) return std::nullopt;
  const std::span<const std::uint8_t> to = SourceOf(in, family);
  if (to.size() != destination.size() ||
      std::memcmp(to.data(), destination.data(), to.size()) != 0) {
    return std::nullopt;
  }
  const int level = family == Family::kV6 ? SOL_IPV6 : SOL_IP;
  const int type = family == Family::kV6 ? IPV6_RECVERR : IP_RECVERR;
  const int origin = family == Family::kV6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP;
  for (cmsghdr* c = CMSG_FIRSTHDR(&in.message); c != nullptr; c = CMSG_NXTHDR(&in.message, c)) {
    if (c->cmsg_level != level || c->cmsg_type != type) continue;
    // The extended error, then the offender's address right after it.
    const std::size_t data_size = c->cmsg_len - CMSG_LEN(0);
    if (data_size < sizeof(sock_extended_err)) continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof(error));
    QueuedError queued;
    queued.sequence = ours->sequence;
    if (error.ee_origin == origin) {
      if (!icmp::IsError(family, error.ee_type)) return std::nullopt;
      queued.status = icmp::ErrorStatus(family, error.ee_type, error.ee_code);
      sockaddr_storage offender{};
      const std::size_t offender_size =
          std::min(data_size - sizeof(sock_extended_err), sizeof(offender));
      std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), offender_size);
      queued.from = AddressTextOf(offender, static_cast<socklen_t>(offender_size));
    }
    timespec stamp{};
    if (FindTimestamp(in.message, stamp) != nullptr) queued.stamp = stamp;
    return queued;
  }
  return std::nullopt;
}

}  // namespace trelvane::linux_icmp
