// ICMP echo over the Linux kernel's sockets.
//
// A datagram ICMP socket (SOCK_DGRAM, IPPROTO_ICMP) needs no privilege when the caller's group lies
// in net.ipv4.ping_group_range; the kernel then picks the echo identifier and hands us only the
// replies to it. Otherwise a raw socket (root or CAP_NET_RAW) is used, which sees every ICMP
// message of the host, so each one is checked against the request in flight.

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "probe/icmp_packet.h"
#include "probe/linux/icmp_socket.h"
#include "probe/linux/resolver.h"
#include "probe/system_echo_service.h"

namespace trelvane {
namespace {

using namespace linux_icmp;

// Reads one message from the socket's error queue; true when it settles the request.
bool ReadQueuedErrorOf(int fd, const InFlight& request, EchoReply& reply) {
  const std::optional<QueuedError> error =
      ReadQueuedError(fd, request.expected.family, request.expected.destination);
  if (!error || error->sequence != request.expected.sequence) return false;
  reply = Answered(error->status, request, error->stamp ? &*error->stamp : nullptr);
  return true;
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
    const Family family = v6 ? Family::kV6 : Family::kV4;
    PrepareToReceive(*socket, family);

    const Destination destination(echo.address, echo.address6);
    const std::uint16_t id = socket->raw() ? RawIdentifier() : 0;
    InFlight request{};
    request.expected.family = family;
    request.expected.destination = destination.span();
    if (socket->raw()) request.expected.id = id;
    request.expected.sequence = NextSequence();
    request.expected.payload = echo.payload.substr(0, kMaxPayloadBytes);
    request.timeout_ns = static_cast<std::int64_t>(echo.timeout_ms) * kNsPerMs;
    const std::vector<std::uint8_t> packet =
        icmp::BuildEchoRequest(family, id, request.expected.sequence, request.expected.payload);

    request.sent = ReadBothClocks();
    if (sendto(fd, packet.data(), packet.size(), 0, destination.any(), destination.any_size()) <
        0) {
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
      if ((watched.revents & POLLERR) != 0 && ReadQueuedErrorOf(fd, request, reply)) return reply;
      if ((watched.revents & POLLIN) != 0 && ReadMessage(fd, socket->raw(), request, reply))
        return reply;
    }
  }

  std::vector<TraceProbe> SendTrace(const TraceRequest& trace) override {
    return SendTraceOnSocket(trace);
  }
};

}  // namespace

std::unique_ptr<EchoService> MakeSystemEchoService() {
  return std::make_unique<LinuxEchoService>();
}

}  // namespace trelvane
