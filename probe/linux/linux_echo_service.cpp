// ICMP echo over the Linux kernel's sockets.
//
// A datagram ICMP socket (SOCK_DGRAM, IPPROTO_ICMP) needs no privilege when the caller's group lies
// in net.ipv4.ping_group_range; the kernel then picks the echo identifier and hands us only the
// replies to it. Otherwise a raw socket (root or CAP_NET_RAW) is used, which sees every ICMP
// message of the host, so each one is checked against the request in flight.

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "probe/round_trip.h"
#include "probe/system_echo_service.h"

namespace trelvane {
namespace {

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::uint8_t kTtlExceededInTransit = 0;
// ICMPv6 (RFC 4443).
constexpr std::uint8_t kEcho6Request = 128;
constexpr std::uint8_t kEcho6Reply = 129;
constexpr std::uint8_t kDestUnreachable6 = 1;
constexpr std::uint8_t kPacketTooBig6 = 2;
constexpr std::uint8_t kTimeExceeded6 = 3;
constexpr std::uint8_t kParameterProblem6 = 4;
constexpr std::uint8_t kHopLimitExceeded6 = 0;
constexpr std::size_t kIpv6HeaderSize = 40;
constexpr std::uint8_t kNextHeaderIcmp6 = 58;
constexpr std::int64_t kNsPerMs = 1'000'000;
// A resolver answer never needs more room than this; a name whose answer would is not resolved.
constexpr std::size_t kMaxResolverBuffer = std::size_t{1} << 20;
constexpr int kRawReceiveBufferBytes = 256 * 1024;
// ICMP_FILTER of <linux/icmp.h>, whose definitions clash with <netinet/ip_icmp.h>.
constexpr int kIcmpFilter = 1;

struct IcmpHeader {
  std::uint8_t type;
  std::uint8_t code;
  std::uint16_t checksum;
  std::uint16_t id;
  std::uint16_t sequence;
};
static_assert(sizeof(IcmpHeader) == kIcmpHeaderSize);

std::int64_t ReadClock(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    std::uint16_t word;
    std::memcpy(&word, data + i, 2);
    sum += word;
  }
  if (size % 2 != 0) {
    std::uint16_t word = 0;
    std::memcpy(&word, data + size - 1, 1);
    sum += word;
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
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
  bool v6;
  Address address;
  Ipv6Address address6;
  std::uint16_t id;  // only checked on raw sockets
  std::uint16_t sequence;
  std::string_view payload;
  bool raw;
  ClockReading sent;
  std::int64_t timeout_ns;
};

ClockReading ReadClocks() {
  return ClockReading{ReadClock(CLOCK_REALTIME), ReadClock(CLOCK_MONOTONIC)};
}

// Round-trip time from the kernel's receive stamp, unless the wall clock was stepped meanwhile.
EchoReply Answered(EchoStatus status, const InFlight& request, const timespec* received) {
  std::optional<std::int64_t> received_ns;
  if (received != nullptr) {
    received_ns = static_cast<std::int64_t>(received->tv_sec) * 1'000'000'000 + received->tv_nsec;
  }
  const std::int64_t rtt_ns = RoundTripNs(request.sent, received_ns, ReadClocks());
  EchoReply reply;
  reply.status = status;
  reply.round_trip_ms = static_cast<std::uint32_t>(rtt_ns / kNsPerMs);
  reply.round_trip_us = rtt_ns / 1000;
  return reply;
}

bool QuotesRequest(const std::uint8_t* quoted, std::size_t size, const InFlight& request) {
  // The error carries the original IP header and at least the first 8 bytes of our ICMP header.
  if (size < kMinIpHeaderSize) return false;
  const std::size_t ihl = static_cast<std::size_t>(quoted[0] & 0x0F) * 4;
  if (ihl < kMinIpHeaderSize || size < ihl + kIcmpHeaderSize) return false;
  if (quoted[9] != IPPROTO_ICMP) return false;
  Address destination;
  std::memcpy(&destination, quoted + 16, 4);
  if (destination != request.address) return false;
  IcmpHeader inner;
  std::memcpy(&inner, quoted + ihl, kIcmpHeaderSize);
  return inner.type == kEchoRequest && ntohs(inner.sequence) == request.sequence &&
         (!request.raw || ntohs(inner.id) == request.id);
}

enum class Verdict { kIgnore, kMatched };

// Whether an echo reply (either family) answers the request in flight: code 0, its sequence, its
// identifier on raw sockets, and our payload echoed whole.
bool AnswersRequest(const IcmpHeader& header, const std::uint8_t* icmp, std::size_t size,
                    const InFlight& request) {
  if (header.code != 0 || ntohs(header.sequence) != request.sequence) return false;
  if (request.raw && ntohs(header.id) != request.id) return false;
  const std::size_t data_size = size - kIcmpHeaderSize;
  return data_size == request.payload.size() &&
         std::memcmp(icmp + kIcmpHeaderSize, request.payload.data(), data_size) == 0;
}

// Classifies one ICMP message (header onwards) received from `source`.
Verdict Classify(const std::uint8_t* icmp, std::size_t size, Address source,
                 const InFlight& request, EchoStatus& status) {
  if (size < kIcmpHeaderSize) return Verdict::kIgnore;
  IcmpHeader header;
  std::memcpy(&header, icmp, kIcmpHeaderSize);
  if (Checksum(icmp, size) != 0) return Verdict::kIgnore;
  switch (header.type) {
    case kEchoReply:
      if (source != request.address || !AnswersRequest(header, icmp, size, request)) {
        return Verdict::kIgnore;
      }
      status = EchoStatus::kSuccess;
      return Verdict::kMatched;
    case kTimeExceeded:
    case kDestUnreachable:
    case kSourceQuench:
    case kParameterProblem:
      // A redirect is left out on purpose: the request still travels on and may be answered.
      if (!QuotesRequest(icmp + kIcmpHeaderSize, size - kIcmpHeaderSize, request)) {
        return Verdict::kIgnore;
      }
      status = header.type == kTimeExceeded && header.code == kTtlExceededInTransit
                   ? EchoStatus::kTtlExpired
                   : EchoStatus::kOther;
      return Verdict::kMatched;
    default:
      return Verdict::kIgnore;
  }
}

// The IPv6 header and the first 8 bytes of our ICMPv6 header, as an ICMPv6 error quotes them.
bool QuotesRequest6(const std::uint8_t* quoted, std::size_t size, const InFlight& request) {
  if (size < kIpv6HeaderSize + kIcmpHeaderSize || (quoted[0] >> 4) != 6) return false;
  if (quoted[6] != kNextHeaderIcmp6) return false;
  if (std::memcmp(quoted + 24, request.address6.bytes.data(), 16) != 0) return false;
  IcmpHeader inner;
  std::memcpy(&inner, quoted + kIpv6HeaderSize, kIcmpHeaderSize);
  return inner.type == kEcho6Request && ntohs(inner.sequence) == request.sequence &&
         (!request.raw || ntohs(inner.id) == request.id);
}

// Classifies one ICMPv6 message from `source`. The kernel has checked its checksum.
Verdict Classify6(const std::uint8_t* icmp, std::size_t size, const in6_addr& source,
                  const InFlight& request, EchoStatus& status) {
  if (size < kIcmpHeaderSize) return Verdict::kIgnore;
  IcmpHeader header;
  std::memcpy(&header, icmp, kIcmpHeaderSize);
  switch (header.type) {
    case kEcho6Reply:
      if (std::memcmp(&source, request.address6.bytes.data(), 16) != 0 ||
          !AnswersRequest(header, icmp, size, request)) {
        return Verdict::kIgnore;
      }
      status = EchoStatus::kSuccess;
      return Verdict::kMatched;
    case kDestUnreachable6:
    case kPacketTooBig6:
    case kTimeExceeded6:
    case kParameterProblem6:
      if (!QuotesRequest6(icmp + kIcmpHeaderSize, size - kIcmpHeaderSize, request)) {
        return Verdict::kIgnore;
      }
      status = header.type == kTimeExceeded6 && header.code == kHopLimitExceeded6
                   ? EchoStatus::kTtlExpired
                   : EchoStatus::kOther;
      return Verdict::kMatched;
    default:
      return Verdict::kIgnore;
  }
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

// Reads one message from the socket's error queue (datagram sockets with IP_RECVERR): an ICMP
// error about one of our requests, with our request's ICMP header as its data.
bool ReadQueuedError(int fd, const InFlight& request, EchoReply& reply) {
  Received in;
  if (Receive(fd, MSG_ERRQUEUE, in) < static_cast<ssize_t>(kIcmpHeaderSize)) return false;
  const auto& data = in.data;
  msghdr& message = in.message;

  // The kernel hands us errors that quote our identifier; the quoted request must also be the one
  // in flight, to the address it went to (the error's name is the quoted destination), or a forged
  // error could turn a healthy host into a loss.
  IcmpHeader ours;
  std::memcpy(&ours, data.data(), kIcmpHeaderSize);
  if (ours.type != (request.v6 ? kEcho6Request : kEchoRequest) ||
      ntohs(ours.sequence) != request.sequence) {
    return false;
  }
  if (request.v6) {
    sockaddr_in6 to{};
    std::memcpy(&to, &in.from, sizeof(to));
    if (in.message.msg_namelen < sizeof(sockaddr_in6) || to.sin6_family != AF_INET6 ||
        std::memcmp(&to.sin6_addr, request.address6.bytes.data(), 16) != 0) {
      return false;
    }
  } else {
    sockaddr_in to{};
    std::memcpy(&to, &in.from, sizeof(to));
    if (in.message.msg_namelen < sizeof(sockaddr_in) || to.sin_family != AF_INET ||
        to.sin_addr.s_addr != request.address) {
      return false;
    }
  }

  timespec stamp_storage{};
  const timespec* stamp = FindTimestamp(message, stamp_storage);
  const int level = request.v6 ? SOL_IPV6 : SOL_IP;
  const int type = request.v6 ? IPV6_RECVERR : IP_RECVERR;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != level || c->cmsg_type != type) continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof(error));
    const bool ttl_expired =
        request.v6 ? error.ee_origin == SO_EE_ORIGIN_ICMP6 && error.ee_type == kTimeExceeded6 &&
                         error.ee_code == kHopLimitExceeded6
                   : error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == kTimeExceeded &&
                         error.ee_code == kTtlExceededInTransit;
    reply = Answered(ttl_expired ? EchoStatus::kTtlExpired : EchoStatus::kOther, request, stamp);
    return true;
  }
  return false;
}

// Reads one normal message; true when it settles the request.
bool ReadMessage(int fd, const InFlight& request, EchoReply& reply) {
  Received in;
  const ssize_t received = Receive(fd, 0, in);
  if (received <= 0 || (in.message.msg_flags & MSG_TRUNC) != 0) return false;
  const auto& data = in.data;
  msghdr& message = in.message;
  const std::uint8_t* icmp = data.data();
  auto size = static_cast<std::size_t>(received);
  EchoStatus status = EchoStatus::kOther;
  if (request.v6) {
    // ICMPv6 sockets, raw ones too, deliver the message without the IPv6 header.
    sockaddr_in6 from{};
    std::memcpy(&from, &in.from, sizeof(from));
    if (in.message.msg_namelen < sizeof(from) ||
        Classify6(icmp, size, from.sin6_addr, request, status) != Verdict::kMatched) {
      return false;
    }
    timespec stamp_storage{};
    reply = Answered(status, request, FindTimestamp(message, stamp_storage));
    return true;
  }
  sockaddr_in from{};
  std::memcpy(&from, &in.from, sizeof(from));
  if (request.raw) {
    // Raw sockets deliver the IP header too.
    if (size < kMinIpHeaderSize) return false;
    const std::size_t ihl = static_cast<std::size_t>(data[0] & 0x0F) * 4;
    if (ihl < kMinIpHeaderSize || ihl > size) return false;
    icmp += ihl;
    size -= ihl;
  }
  if (Classify(icmp, size, from.sin_addr.s_addr, request, status) != Verdict::kMatched) {
    return false;
  }
  timespec stamp_storage{};
  reply = Answered(status, request, FindTimestamp(message, stamp_storage));
  return true;
}

void SetOption(int fd, int level, int name, int value) {
  setsockopt(fd, level, name, &value, sizeof(value));
}

// A raw socket sees every ICMP message of the host. Under heavy echo traffic of other programs its
// queue would overflow and our reply be dropped: a false loss. So, as the most trusted ping does,
// the kernel filters: only echo replies with our identifier and the errors we read get through.
void AttachRawFilter(int fd, std::uint16_t identifier) {
  std::uint32_t pass = (1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                       (1u << kTimeExceeded) | (1u << kParameterProblem);
  std::uint32_t types = ~pass;
  setsockopt(fd, SOL_RAW, kIcmpFilter, &types, sizeof(types));

  // Offsets count from the IP header, which a raw socket delivers; X is its length. Jumps count
  // the instructions to skip.
  sock_filter code[] = {
      BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                        // 0: X = IP header length
      BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                         // 1: A = ICMP type
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply, 0, 2),         // 2: an echo reply?
      BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                         // 3:   A = its identifier
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 5, 4),         // 4:   ours: 10, else 9
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kDestUnreachable, 4, 0),   // 5: an error we read: 10
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kSourceQuench, 3, 0),      // 6
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kTimeExceeded, 2, 0),      // 7
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kParameterProblem, 1, 0),  // 8
      BPF_STMT(BPF_RET | BPF_K, 0),                                  // 9: drop
      BPF_STMT(BPF_RET | BPF_K, 0xFFFF),                             // 10: pass
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
  setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program));
  // Room for a burst of our own replies and errors; others' traffic no longer reaches the queue.
  SetOption(fd, SOL_SOCKET, SO_RCVBUF, kRawReceiveBufferBytes);
}

// The same for a raw ICMPv6 socket, which delivers the message without the IPv6 header.
void AttachRawFilter6(int fd, std::uint16_t identifier) {
  icmp6_filter types;
  ICMP6_FILTER_SETBLOCKALL(&types);
  for (const int type :
       {kEcho6Reply, kDestUnreachable6, kPacketTooBig6, kTimeExceeded6, kParameterProblem6}) {
    ICMP6_FILTER_SETPASS(type, &types);
  }
  setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof(types));
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),                          // 0: A = ICMPv6 type
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEcho6Reply, 0, 2),         // 1: an echo reply?
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),                          // 2:   A = its identifier
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 3, 2),          // 3:   ours: 7, else 6
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kDestUnreachable6, 0, 1),   // 4: an error, 1 to 4:
      BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, kParameterProblem6, 0, 1),  // 5:   pass
      BPF_STMT(BPF_RET | BPF_K, 0),                                   // 6: drop
      BPF_STMT(BPF_RET | BPF_K, 0xFFFF),                              // 7: pass
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
  setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program));
  SetOption(fd, SOL_SOCKET, SO_RCVBUF, kRawReceiveBufferBytes);
}

class LinuxEchoService final : public EchoService {
 public:
  Address ParseAddress(std::string_view text) override {
    return inet_addr(std::string(text).c_str());
  }

  // The first IPv4 address in the resolver's own order. getaddrinfo() would re-sort the list by
  // the RFC 6724 rules (same subnet first, ...), so a name listed as "A, B" could be measured at
  // B; gethostbyname2_r keeps the order, and is the thread-safe form of gethostbyname.
  Address LookupHost(std::string_view name) override {
    const std::string text(name);
    std::vector<char> buffer(4096);
    hostent entry{};
    hostent* found = nullptr;
    int error = 0;
    while (gethostbyname2_r(text.c_str(), AF_INET, &entry, buffer.data(), buffer.size(), &found,
                            &error) == ERANGE &&
           buffer.size() < kMaxResolverBuffer) {
      buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
        found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
      return kNoAddress;
    }
    Address address = kNoAddress;
    std::memcpy(&address, found->h_addr_list[0], sizeof(address));
    return address;
  }

  std::optional<Ipv6Address> ParseAddress6(std::string_view text) override {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
      text = text.substr(1, text.size() - 2);
    }
    Ipv6Address address;
    const std::size_t percent = text.find('%');
    if (percent != std::string_view::npos) {
      // The zone: an interface's name or its index.
      const std::string zone(text.substr(percent + 1));
      if (zone.empty()) return std::nullopt;
      address.scope_id = zone.find_first_not_of("0123456789") == std::string::npos
                             ? static_cast<std::uint32_t>(std::strtoul(zone.c_str(), nullptr, 10))
                             : if_nametoindex(zone.c_str());
      if (address.scope_id == 0) return std::nullopt;
      text = text.substr(0, percent);
    }
    in6_addr parsed{};
    if (inet_pton(AF_INET6, std::string(text).c_str(), &parsed) != 1) return std::nullopt;
    std::memcpy(address.bytes.data(), &parsed, 16);
    return address;
  }

  // The first IPv6 address in the resolver's order, as LookupHost for IPv4.
  std::optional<Ipv6Address> LookupHost6(std::string_view name) override {
    const std::string text(name);
    std::vector<char> buffer(4096);
    hostent entry{};
    hostent* found = nullptr;
    int error = 0;
    while (gethostbyname2_r(text.c_str(), AF_INET6, &entry, buffer.data(), buffer.size(), &found,
                            &error) == ERANGE &&
           buffer.size() < kMaxResolverBuffer) {
      buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr || found->h_addrtype != AF_INET6 || found->h_length != 16 ||
        found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
      return std::nullopt;
    }
    Ipv6Address address;
    std::memcpy(address.bytes.data(), found->h_addr_list[0], 16);
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
    } else if (v6) {
      AttachRawFilter6(fd, RawIdentifier());
    } else {
      AttachRawFilter(fd, RawIdentifier());
    }

    InFlight request{};
    request.v6 = v6;
    request.address = echo.address;
    if (v6) request.address6 = *echo.address6;
    request.id = socket->raw() ? RawIdentifier() : 0;
    request.sequence = NextSequence();
    request.payload = echo.payload;
    request.raw = socket->raw();
    request.timeout_ns = static_cast<std::int64_t>(echo.timeout_ms) * kNsPerMs;

    std::array<std::uint8_t, 1024> packet{};
    const std::size_t payload_size = std::min(echo.payload.size(), packet.size() - kIcmpHeaderSize);
    IcmpHeader header{v6 ? kEcho6Request : kEchoRequest, 0, 0, htons(request.id),
                      htons(request.sequence)};
    std::memcpy(packet.data(), &header, kIcmpHeaderSize);
    std::memcpy(packet.data() + kIcmpHeaderSize, echo.payload.data(), payload_size);
    const std::size_t packet_size = kIcmpHeaderSize + payload_size;
    if (!v6) {
      // The kernel sums ICMPv6 messages itself (they cover the addresses); ICMP ones are ours.
      header.checksum = Checksum(packet.data(), packet_size);
      std::memcpy(packet.data(), &header, kIcmpHeaderSize);
    }

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
    request.sent = ReadClocks();
    if (sendto(fd, packet.data(), packet_size, 0, to_any, to_size) < 0) {
      // No route, a broadcast address, a firewall: nothing went out.
      return EchoReply{EchoStatus::kOther};
    }

    const std::int64_t deadline_ns = request.sent.monotonic_ns + request.timeout_ns;
    for (;;) {
      const std::int64_t left_ns = deadline_ns - ReadClock(CLOCK_MONOTONIC);
      if (left_ns <= 0) return EchoReply{EchoStatus::kTimedOut};
      const timespec wait{static_cast<time_t>(left_ns / 1'000'000'000),
                          static_cast<long>(left_ns % 1'000'000'000)};
      pollfd watched{fd, POLLIN, 0};
      const int ready = ppoll(&watched, 1, &wait, nullptr);
      if (ready < 0 && errno != EINTR) return EchoReply{EchoStatus::kOther};
      if (ready <= 0) continue;
      EchoReply reply;
      if ((watched.revents & POLLERR) != 0 && ReadQueuedError(fd, request, reply)) return reply;
      if ((watched.revents & POLLIN) != 0 && ReadMessage(fd, request, reply)) return reply;
    }
  }
};

}  // namespace

std::unique_ptr<EchoService> MakeSystemEchoService() {
  return std::make_unique<LinuxEchoService>();
}

}  // namespace trelvane
