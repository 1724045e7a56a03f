// ICMP echo over the Linux kernel's sockets.
//
// A datagram ICMP socket (SOCK_DGRAM, IPPROTO_ICMP) needs no privilege when the caller's group lies
// in net.ipv4.ping_group_range; the kernel then picks the echo identifier and hands us only the
// replies to it. Otherwise a raw socket (root or CAP_NET_RAW) is used, which sees every ICMP
// message of the host, so each one is checked against the request in flight.

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "probe/icmp_packet.h"
#include "probe/linux/raw_filter.h"
#include "probe/linux/resolver.h"
#include "probe/round_trip.h"
#include "probe/system_echo_service.h"

namespace trelvane {
namespace {

using icmp::Family;

constexpr std::int64_t kNsPerMs = 1'000'000;
// Room for the payload in one request; a longer one is cut.
constexpr std::size_t kMaxPayloadBytes = 1016;

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

class Socket {
 public:
  Socket() = default;
  Socket(int fd, bool raw) : fd_(fd), raw_(raw) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }
  bool raw() const { return raw_; }

 private:
  int fd_ = -1;
  bool raw_ = false;
};

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

struct InFlight {
  icmp::Expected expected;
  ClockReading sent;
  std::int64_t timeout_ns;
};

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

// One message with its sender and its control messages (the receive time stamp, ICMP errors).
struct Received {
  std::array<std::uint8_t, 2048> data{};
  alignas(cmsghdr) std::array<std::uint8_t, 512> control{};
  sockaddr_storage from{};
  iovec io{};
  msghdr message{};
};

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

// Reads one message from the socket's error queue (datagram sockets with IP_RECVERR): an ICMP
// error about one of our requests, with our request's ICMP header as its data.
bool ReadQueuedError(int fd, const InFlight& request, EchoReply& reply) {
  Received in;
  const ssize_t received = Receive(fd, MSG_ERRQUEUE, in);
  if (received < 0) return false;
  const Family family = request.expected.family;
  // The kernel hands us errors that quote our identifier; the quoted request must also be the one
  // in flight, to the address it went to (the error's name is the quoted destination), or a forged
  // error could turn a healthy host into a loss.
  const std::optional<icmp::Header> ours =
      icmp::ReadHeader({in.data.data(), static_cast<std::size_t>(received)});
  if (!ours || ours->type != icmp::EchoRequestType(family) ||
      ours->sequence != request.expected.sequence) {
    return false;
  }
  const std::span<const std::uint8_t> to = SourceOf(in, family);
  if (to.size() != request.expected.destination.size() ||
      std::memcmp(to.data(), request.expected.destination.data(), to.size()) != 0) {
    return false;
  }
  timespec stamp_storage{};
  const timespec* stamp = FindTimestamp(in.message, stamp_storage);
  const int level = family == Family::kV6 ? SOL_IPV6 : SOL_IP;
  const int type = family == Family::kV6 ? IPV6_RECVERR : IP_RECVERR;
  const int origin = family == Family::kV6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP;
  for (cmsghdr* c = CMSG_FIRSTHDR(&in.message); c != nullptr; c = CMSG_NXTHDR(&in.message, c)) {
    if (c->cmsg_level != level || c->cmsg_type != type) continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof(error));
    // A redirect is queued too, but the request travels on and may still be answered.
    if (error.ee_origin == origin && !icmp::IsError(family, error.ee_type)) return false;
    const EchoStatus status = error.ee_origin == origin
                                  ? icmp::ErrorStatus(family, error.ee_type, error.ee_code)
                                  : EchoStatus::kOther;
    reply = Answered(status, request, stamp);
    return true;
  }
  return false;
}

// Reads one normal message; true when it settles the request.
bool ReadMessage(int fd, bool raw, const InFlight& request, EchoReply& reply) {
  Received in;
  const ssize_t received = Receive(fd, 0, in);
  if (received <= 0 || (in.message.msg_flags & MSG_TRUNC) != 0) return false;
  const Family family = request.expected.family;
  std::span<const std::uint8_t> message(in.data.data(), static_cast<std::size_t>(received));
  // Raw IPv4 sockets deliver the IP header too; ICMPv6 sockets, raw ones too, never do.
  if (raw && family == Family::kV4) {
    const auto payload = icmp::Ipv4Payload(message);
    if (!payload) return false;
    message = *payload;
  }
  const std::optional<EchoStatus> status =
      icmp::Classify(message, SourceOf(in, family), request.expected);
  if (!status) return false;
  timespec stamp_storage{};
  reply = Answered(*status, request, FindTimestamp(in.message, stamp_storage));
  return true;
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

// One probe of a trace in flight.
struct TraceProbeInFlight {
  InFlight request;
  bool settled = false;
};

// Reads one queued error of a trace's datagram socket: the probe it quotes (by its sequence, to the
// destination) settles with the router that sent it, the offender the kernel names.
void ReadQueuedTraceError(int fd, std::vector<TraceProbeInFlight>& probes,
                          std::vector<TraceProbe>& out) {
  Received in;
  const ssize_t received = Receive(fd, MSG_ERRQUEUE, in);
  if (received < 0 || probes.empty()) return;
  const Family family = probes.front().request.expected.family;
  const std::optional<icmp::Header> ours =
      icmp::ReadHeader({in.data.data(), static_cast<std::size_t>(received)});
  if (!ours || ours->type != icmp::EchoRequestType(family)) return;
  const std::span<const std::uint8_t> to = SourceOf(in, family);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    TraceProbeInFlight& probe = probes[i];
    const icmp::Expected& expected = probe.request.expected;
    if (probe.settled || ours->sequence != expected.sequence) continue;
    if (to.size() != expected.destination.size() ||
        std::memcmp(to.data(), expected.destination.data(), to.size()) != 0) {
      return;
    }
    timespec stamp_storage{};
    const timespec* stamp = FindTimestamp(in.message, stamp_storage);
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
      if (error.ee_origin != origin || !icmp::IsError(family, error.ee_type)) return;
      sockaddr_storage offender{};
      const std::size_t offender_size =
          std::min(data_size - sizeof(sock_extended_err), sizeof(offender));
      std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), offender_size);
      EchoReply reply =
          Answered(icmp::ErrorStatus(family, error.ee_type, error.ee_code), probe.request, stamp);
      reply.from = AddressTextOf(offender, static_cast<socklen_t>(offender_size));
      out[i].reply = reply;
      probe.settled = true;
      return;
    }
    return;
  }
}

// Reads one normal message of a trace's socket: an echo reply from the destination, or (raw
// sockets) an error that quotes one of the probes, by the prober's rules.
void ReadTraceMessage(int fd, bool raw, std::vector<TraceProbeInFlight>& probes,
                      std::vector<TraceProbe>& out) {
  Received in;
  const ssize_t received = Receive(fd, 0, in);
  if (received <= 0 || (in.message.msg_flags & MSG_TRUNC) != 0 || probes.empty()) return;
  const Family family = probes.front().request.expected.family;
  std::span<const std::uint8_t> message(in.data.data(), static_cast<std::size_t>(received));
  if (raw && family == Family::kV4) {
    const auto payload = icmp::Ipv4Payload(message);
    if (!payload) return;
    message = *payload;
  }
  const std::span<const std::uint8_t> source = SourceOf(in, family);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    if (probes[i].settled) continue;
    const std::optional<EchoStatus> status =
        icmp::Classify(message, source, probes[i].request.expected);
    if (!status) continue;
    timespec stamp_storage{};
    EchoReply reply =
        Answered(*status, probes[i].request, FindTimestamp(in.message, stamp_storage));
    reply.from = AddressTextOf(in.from, in.message.msg_namelen);
    out[i].reply = reply;
    probes[i].settled = true;
    return;
  }
}

void SetOption(int fd, int level, int name, int value) {
  setsockopt(fd, level, name, &value, sizeof(value));
}

class LinuxEchoService final : public EchoService {
 public:
  Address ParseAddress(std::string_view text) override {
    return inet_addr(std::string(text).c_str());
  }

  Address LookupHost(std::string_view name, NameError* error) override {
    const auto found = LookupFirst(name, AF_INET, error);
    if (!found) return kNoAddress;
    Address address = kNoAddress;
    std::memcpy(&address, found->data(), sizeof(address));
    return address;
  }

  std::optional<Ipv6Address> ParseAddress6(std::string_view text) override {
    return ParseIpv6Literal(text);
  }

  std::optional<Ipv6Address> LookupHost6(std::string_view name, NameError* error) override {
    const auto found = LookupFirst(name, AF_INET6, error);
    if (!found) return std::nullopt;
    Ipv6Address address;
    address.bytes = *found;
    return address;
  }

  EchoReply SendEcho(const EchoRequest& echo) override {
    const bool v6 = echo.address6.has_value();
    int open_error = 0;
    const std::unique_ptr<Socket> socket = OpenIcmpSocket(v6, open_error);
    if (!socket) {
      ReportNoSocketOnce(open_error);
      return EchoReply{open_error == EPERM || open_error == EACCES ? EchoStatus::kNotPermitted
                                                                   : EchoStatus::kNoReply};
    }
    const int fd = socket->fd();
    // The time-to-live of IPv4 is the hop limit of IPv6.
    const bool limited =
        v6 ? setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &echo.ttl, sizeof(echo.ttl)) == 0 &&
                 setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &echo.ttl, sizeof(echo.ttl)) == 0
           : setsockopt(fd, IPPROTO_IP, IP_TTL, &echo.ttl, sizeof(echo.ttl)) == 0;
    if (!limited) return EchoReply{EchoStatus::kBadOption};
    SetOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    if (!socket->raw()) {
      // Without it a datagram socket drops ICMP errors, and unreachable looks like a timeout.
      if (v6) {
        SetOption(fd, IPPROTO_IPV6, IPV6_RECVERR, 1);
      } else {
        SetOption(fd, IPPROTO_IP, IP_RECVERR, 1);
      }
    } else {
      AttachRawFilter(fd, v6 ? Family::kV6 : Family::kV4, RawIdentifier());
    }

    const Family family = v6 ? Family::kV6 : Family::kV4;
    const std::uint16_t id = socket->raw() ? RawIdentifier() : 0;
    InFlight request{};
    request.expected.family = family;
    request.expected.destination =
        v6 ? std::span<const std::uint8_t>(echo.address6->bytes)
           : std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&echo.address), 4);
    if (socket->raw()) request.expected.id = id;
    request.expected.sequence = NextSequence();
    request.expected.payload = echo.payload.substr(0, kMaxPayloadBytes);
    request.timeout_ns = static_cast<std::int64_t>(echo.timeout_ms) * kNsPerMs;
    const std::vector<std::uint8_t> packet =
        icmp::BuildEchoRequest(family, id, request.expected.sequence, request.expected.payload);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = echo.address;
    sockaddr_in6 to6{};
    to6.sin6_family = AF_INET6;
    if (v6) {
      std::memcpy(&to6.sin6_addr, echo.address6->bytes.data(), 16);
      to6.sin6_scope_id = echo.address6->scope_id;
    }
    const auto* to_any =
        v6 ? reinterpret_cast<const sockaddr*>(&to6) : reinterpret_cast<const sockaddr*>(&to);
    const socklen_t to_size = v6 ? sizeof(to6) : sizeof(to);
    request.sent = ReadBothClocks();
    if (sendto(fd, packet.data(), packet.size(), 0, to_any, to_size) < 0) {
      // No route, a broadcast address, a firewall: nothing went out.
      return EchoReply{EchoStatus::kOther};
    }

    const std::int64_t deadline_ns = request.sent.monotonic_ns + request.timeout_ns;
    for (;;) {
      const std::int64_t left_ns = deadline_ns - NowNs(CLOCK_MONOTONIC);
      if (left_ns <= 0) return EchoReply{EchoStatus::kTimedOut};
      const timespec wait{static_cast<time_t>(left_ns / 1'000'000'000),
                          static_cast<long>(left_ns % 1'000'000'000)};
      pollfd watched{fd, POLLIN, 0};
      const int ready = ppoll(&watched, 1, &wait, nullptr);
      if (ready < 0 && errno != EINTR) return EchoReply{EchoStatus::kOther};
      if (ready <= 0) continue;
      EchoReply reply;
      if ((watched.revents & POLLERR) != 0 && ReadQueuedError(fd, request, reply)) return reply;
      if ((watched.revents & POLLIN) != 0 && ReadMessage(fd, socket->raw(), request, reply))
        return reply;
    }
  }

  // All the probes on one socket: each sent with its own hop limit and sequence number, then every
  // answer read as it comes until each probe is settled or the last one's timeout is over.
  std::vector<TraceProbe> SendTrace(const TraceRequest& trace) override {
    const bool v6 = trace.address6.has_value();
    const int count = trace.max_ttl * trace.probes_per_hop;
    std::vector<TraceProbe> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
      out[static_cast<std::size_t>(i)].ttl = i / trace.probes_per_hop + 1;
    int open_error = 0;
    const std::unique_ptr<Socket> socket = OpenIcmpSocket(v6, open_error);
    if (!socket) {
      ReportNoSocketOnce(open_error);
      const EchoStatus status = open_error == EPERM || open_error == EACCES
                                    ? EchoStatus::kNotPermitted
                                    : EchoStatus::kNoReply;
      for (TraceProbe& probe : out) probe.reply.status = status;
      return out;
    }
    const int fd = socket->fd();
    const Family family = v6 ? Family::kV6 : Family::kV4;
    SetOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    if (!socket->raw()) {
      SetOption(fd, v6 ? IPPROTO_IPV6 : IPPROTO_IP, v6 ? IPV6_RECVERR : IP_RECVERR, 1);
    } else {
      AttachRawFilter(fd, family, RawIdentifier());
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = trace.address;
    sockaddr_in6 to6{};
    to6.sin6_family = AF_INET6;
    if (v6) {
      std::memcpy(&to6.sin6_addr, trace.address6->bytes.data(), 16);
      to6.sin6_scope_id = trace.address6->scope_id;
    }
    const auto* to_any =
        v6 ? reinterpret_cast<const sockaddr*>(&to6) : reinterpret_cast<const sockaddr*>(&to);
    const socklen_t to_size = v6 ? sizeof(to6) : sizeof(to);
    const std::span<const std::uint8_t> destination =
        v6 ? std::span<const std::uint8_t>(trace.address6->bytes)
           : std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&trace.address),
                                           4);
    const std::int64_t timeout_ns = static_cast<std::int64_t>(trace.timeout_ms) * kNsPerMs;
    const std::uint16_t id = socket->raw() ? RawIdentifier() : 0;
    std::vector<TraceProbeInFlight> probes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      InFlight& request = probes[static_cast<std::size_t>(i)].request;
      request.expected.family = family;
      request.expected.destination = destination;
      if (socket->raw()) request.expected.id = id;
      request.expected.sequence = NextSequence();
      request.expected.payload = trace.payload.substr(0, kMaxPayloadBytes);
      request.timeout_ns = timeout_ns;
      const int ttl = out[static_cast<std::size_t>(i)].ttl;
      const bool limited =
          v6 ? setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof(ttl)) == 0
             : setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl)) == 0;
      const std::vector<std::uint8_t> packet =
          icmp::BuildEchoRequest(family, id, request.expected.sequence, request.expected.payload);
      // An error that came back for an earlier probe is handed to the next send as its failure
      // (besides the error queue): that send is tried again.
      bool sent = false;
      for (int attempt = 0; limited && !sent && attempt < 3; ++attempt) {
        request.sent = ReadBothClocks();
        sent = sendto(fd, packet.data(), packet.size(), 0, to_any, to_size) >= 0;
      }
      if (!sent) {
        out[static_cast<std::size_t>(i)].reply.status =
            limited ? EchoStatus::kOther : EchoStatus::kBadOption;
        probes[static_cast<std::size_t>(i)].settled = true;
      }
    }
    const std::int64_t deadline_ns = NowNs(CLOCK_MONOTONIC) + timeout_ns;
    auto all_settled = [&probes] {
      for (const TraceProbeInFlight& probe : probes) {
        if (!probe.settled) return false;
      }
      return true;
    };
    while (!all_settled()) {
      const std::int64_t left_ns = deadline_ns - NowNs(CLOCK_MONOTONIC);
      if (left_ns <= 0) break;
      const timespec wait{static_cast<time_t>(left_ns / 1'000'000'000),
                          static_cast<long>(left_ns % 1'000'000'000)};
      pollfd watched{fd, POLLIN, 0};
      const int ready = ppoll(&watched, 1, &wait, nullptr);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      if ((watched.revents & POLLERR) != 0) ReadQueuedTraceError(fd, probes, out);
      if ((watched.revents & POLLIN) != 0) ReadTraceMessage(fd, socket->raw(), probes, out);
    }
    for (std::size_t i = 0; i < probes.size(); ++i) {
      if (!probes[i].settled) out[i].reply.status = EchoStatus::kTimedOut;
    }
    return out;
  }
};

}  // namespace

std::unique_ptr<EchoService> MakeSystemEchoService() {
  return std::make_unique<LinuxEchoService>();
}

}  // namespace trelvane
