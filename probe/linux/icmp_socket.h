#pragma once

// What the Linux backend's requests and traces share: the ICMP socket (datagram where the kernel
// allows it, else raw), a request in flight, and the reading of a message with its receive time
// stamp and control messages.

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "probe/echo_service.h"
#include "probe/icmp_packet.h"
#include "probe/round_trip.h"

namespace trelvane::linux_icmp {

using icmp::Family;

constexpr std::int64_t kNsPerMs = 1'000'000;
// Room for the payload in one request; a longer one is cut.
constexpr std::size_t kMaxPayloadBytes = 1016;

std::int64_t NowNs(clockid_t clock);

// Sequence numbers are unique across the process's requests, so a late reply to an earlier
// request never matches a later one.
std::uint16_t NextSequence();

// The identifier of raw-socket requests; datagram sockets get theirs from the kernel.
std::uint16_t RawIdentifier();

// Tells once why no ICMP socket may be opened, and how to allow one.
void ReportNoSocketOnce(int error);

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
std::unique_ptr<Socket> OpenIcmpSocket(bool v6, int& error);

struct InFlight {
  icmp::Expected expected;
  ClockReading sent;
  std::int64_t timeout_ns;
};

ClockReading ReadBothClocks();

// Round-trip time from the kernel's receive stamp, unless the wall clock was stepped meanwhile.
EchoReply Answered(EchoStatus status, const InFlight& request, const timespec* received);

// The kernel's receive stamp among the message's control messages, or nothing.
const timespec* FindTimestamp(msghdr& message, timespec& storage);

// One message with its sender and its control messages (the receive time stamp, ICMP errors).
struct Received {
  std::array<std::uint8_t, 2048> data{};
  alignas(cmsghdr) std::array<std::uint8_t, 512> control{};
  sockaddr_storage from{};
  iovec io{};
  msghdr message{};
};

// One message (flags: 0, or MSG_ERRQUEUE), without waiting.
ssize_t Receive(int fd, int flags, Received& in);

// The address a message came from (or, for a queued error, the destination of the request it
// quotes), as the decoder compares it: 4 or 16 bytes. Empty when it is not of the family.
std::span<const std::uint8_t> SourceOf(const Received& in, Family family);

// The text of a socket address of either family; empty for anything else.
std::string AddressTextOf(const sockaddr_storage& address, socklen_t size);

// An ICMP error from a datagram socket's error queue (IP_RECVERR): the sequence of the request it
// quotes, the status that request takes, the router that sent the error and the receive stamp.
// An error of another origin (a local one) gives kOther and no router.
struct QueuedError {
  std::uint16_t sequence = 0;
  EchoStatus status = EchoStatus::kOther;
  std::string from;
  std::optional<timespec> stamp;
};
// Reads one message of the error queue; nothing when there is none, when it quotes no echo request
// of ours to `destination`, or when it is a redirect (the request travels on, and may still be
// answered).
std::optional<QueuedError> ReadQueuedError(int fd, Family family,
                                           std::span<const std::uint8_t> destination);

void SetOption(int fd, int level, int name, int value);

// The receive time stamps, and what lets in the errors about our requests: the error queue of a
// datagram socket (without it, unreachable looks like a timeout), a raw socket's filter.
void PrepareToReceive(const Socket& socket, Family family);

// Where requests go: the socket address of either family, and the destination's bytes as the
// decoder compares them.
struct Destination {
  Destination(Address address, const std::optional<Ipv6Address>& address6) {
    if (address6) {
      to6.sin6_family = AF_INET6;
      std::memcpy(&to6.sin6_addr, address6->bytes.data(), 16);
      to6.sin6_scope_id = address6->scope_id;
      bytes = address6->bytes;
      size = 16;
    } else {
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = address;
      std::memcpy(bytes.data(), &address, 4);
      size = 4;
    }
  }
  const sockaddr* any() const {
    return size == 16 ? reinterpret_cast<const sockaddr*>(&to6)
                      : reinterpret_cast<const sockaddr*>(&to);
  }
  socklen_t any_size() const { return size == 16 ? sizeof(to6) : sizeof(to); }
  std::span<const std::uint8_t> span() const { return {bytes.data(), size}; }

  sockaddr_in to{};
  sockaddr_in6 to6{};
  std::array<std::uint8_t, 16> bytes{};
  std::size_t size = 0;
};

// Sends every probe of a trace on one socket and reads their answers as they come.
std::vector<TraceProbe> SendTraceOnSocket(const TraceRequest& trace);

}  // namespace trelvane::linux_icmp
