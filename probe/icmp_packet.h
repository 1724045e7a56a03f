#pragma once

// The rules of ICMP and ICMPv6 echo packets, apart from any socket: building a request, and
// deciding whether a received message answers it, reports an error about it, or is someone else's.
// Every field is read from bytes with memcpy and in network byte order; nothing here trusts a
// length it has not checked.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "probe/echo_service.h"

namespace trelvane::icmp {

enum class Family { kV4, kV6 };

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kMinIpv4HeaderSize = 20;
inline constexpr std::size_t kIpv6HeaderSize = 40;

// ICMP (RFC 792).
inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestUnreachable = 3;
inline constexpr std::uint8_t kSourceQuench = 4;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;
inline constexpr std::uint8_t kTtlExceededInTransit = 0;
inline constexpr std::uint8_t kProtocolIcmp = 1;
// ICMPv6 (RFC 4443).
inline constexpr std::uint8_t kEcho6Request = 128;
inline constexpr std::uint8_t kEcho6Reply = 129;
inline constexpr std::uint8_t kDestUnreachable6 = 1;
inline constexpr std::uint8_t kPacketTooBig6 = 2;
inline constexpr std::uint8_t kTimeExceeded6 = 3;
inline constexpr std::uint8_t kParameterProblem6 = 4;
inline constexpr std::uint8_t kHopLimitExceeded6 = 0;
inline constexpr std::uint8_t kNextHeaderIcmp6 = 58;

// The first 8 bytes of every ICMP and ICMPv6 message, `id` and `sequence` in host byte order.
struct Header {
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  std::uint16_t checksum = 0;
  std::uint16_t id = 0;
  std::uint16_t sequence = 0;
};
std::optional<Header> ReadHeader(std::span<const std::uint8_t> message);

std::uint8_t EchoRequestType(Family family);
std::uint8_t EchoReplyType(Family family);

// The Internet checksum (RFC 1071) of `data`, as stored: 0 over a message whose checksum is right.
std::uint16_t Checksum(std::span<const std::uint8_t> data);

// The request in flight, as the decoder checks a message against it.
struct Expected {
  Family family = Family::kV4;
  // The destination in network byte order: 4 bytes for IPv4, 16 for IPv6.
  std::span<const std::uint8_t> destination;
  // Checked only where the kernel does not pick and filter it (raw sockets).
  std::optional<std::uint16_t> id;
  std::uint16_t sequence = 0;
  std::string_view payload;
};

// An echo request: header and payload. IPv4 requests carry their checksum; the kernel sums ICMPv6
// ones itself (the sum covers the addresses).
std::vector<std::uint8_t> BuildEchoRequest(Family family, std::uint16_t id, std::uint16_t sequence,
                                           std::string_view payload);

// The ICMP message inside an IPv4 packet as a raw socket delivers it; nothing when the header's
// length is impossible.
std::optional<std::span<const std::uint8_t>> Ipv4Payload(std::span<const std::uint8_t> packet);

// Whether `quoted` (the data of an ICMP error: the original IP header and at least the first 8
// bytes of the original message) quotes the request in flight, to the address it went to.
bool QuotesRequest(std::span<const std::uint8_t> quoted, const Expected& request);

// Whether a message of this type is an error that may be about a request: destination unreachable,
// source quench, time exceeded, parameter problem (ICMPv6: unreachable, packet too big, time
// exceeded, parameter problem). A redirect is none: the request still travels on.
bool IsError(Family family, std::uint8_t type);

// The status an error of this type and code gives the request it quotes: kTtlExpired for "time
// exceeded in transit" (the hop limit of IPv6), kOther for any other error.
EchoStatus ErrorStatus(Family family, std::uint8_t type, std::uint8_t code);

// Classifies one ICMP message (header onwards) received from `source` (4 or 16 bytes): kSuccess
// for an echo reply from the destination with code 0, our sequence (and identifier) and our payload
// echoed whole; ErrorStatus for a destination unreachable, source quench, time exceeded or
// parameter problem (ICMPv6: unreachable, packet too big, time exceeded, parameter problem) that
// quotes the request; nothing for anything else, which is someone else's. IPv4 messages must carry
// a right checksum; the kernel has checked those of ICMPv6. A redirect is left out on purpose: the
// request still travels on and may be answered.
std::optional<EchoStatus> Classify(std::span<const std::uint8_t> message,
                                   std::span<const std::uint8_t> source, const Expected& request);

}  // namespace trelvane::icmp
