// The packet rules on bytes: what the prober accepts as its answer, and what it passes over.

#include "probe/icmp_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace trelvane::icmp {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kDestination = {10, 250, 0, 1};
const Bytes kOther = {10, 250, 0, 2};
const Bytes kDestination6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const Bytes kOther6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSequence = 7;
constexpr std::string_view kPayload = "PINGECHOICMPTEST";

// An ICMP message of any type with its checksum right (IPv4's rule; ICMPv6 ignores it here).
Bytes Message(std::uint8_t type, std::uint8_t code, const Bytes& rest) {
  Bytes message = {type, code, 0, 0};
  message.insert(message.end(), rest.begin(), rest.end());
  const std::uint16_t sum = Checksum(message);
  std::memcpy(message.data() + 2, &sum, 2);
  return message;
}

Bytes EchoFields(std::uint16_t id, std::uint16_t sequence, std::string_view payload) {
  Bytes fields = {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),
                  static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence)};
  fields.insert(fields.end(), payload.begin(), payload.end());
  return fields;
}

// The data of an IPv4 error: 4 unused bytes, the original IP header, and `quoted_bytes` of the
// original request.
Bytes Quote4(const Bytes& destination, std::size_t quoted_bytes = 8, std::uint8_t protocol = 1,
             std::uint8_t ihl = 5, std::uint16_t sequence = kSequence) {
  Bytes data(4, 0);
  Bytes ip(ihl * 4u < 20 ? 20 : ihl * 4u, 0);
  ip[0] = static_cast<std::uint8_t>(0x40 | ihl);
  ip[9] = protocol;
  std::copy(destination.begin(), destination.end(), ip.begin() + 16);
  data.insert(data.end(), ip.begin(), ip.end());
  const Bytes request = BuildEchoRequest(Family::kV4, kId, sequence, kPayload);
  data.insert(data.end(), request.begin(), request.begin() + static_cast<long>(quoted_bytes));
  return data;
}

Bytes Quote6(const Bytes& destination, std::uint8_t version = 6) {
  Bytes data(4, 0);
  Bytes ip(40, 0);
  ip[0] = static_cast<std::uint8_t>(version << 4);
  ip[6] = kNextHeaderIcmp6;
  std::copy(destination.begin(), destination.end(), ip.begin() + 24);
  data.insert(data.end(), ip.begin(), ip.end());
  const Bytes request = BuildEchoRequest(Family::kV6, kId, kSequence, kPayload);
  data.insert(data.end(), request.begin(), request.begin() + 8);
  return data;
}

Expected Request(Family family, bool raw) {
  Expected request;
  request.family = family;
  request.destination = family == Family::kV6 ? kDestination6 : kDestination;
  if (raw) request.id = kId;
  request.sequence = kSequence;
  request.payload = kPayload;
  return request;
}

TEST(IcmpPacketTest, OnlyOurAnswerOrAnErrorQuotingOurRequestSettlesIt) {
  const Bytes reply = Message(kEchoReply, 0, EchoFields(kId, kSequence, kPayload));
  Bytes bad_sum = reply;
  bad_sum[2] ^= 1;
  struct Case {
    const char* what;
    Family family;
    bool raw;
    Bytes message;
    Bytes source;
    std::optional<EchoStatus> status;
  };
  const std::optional<EchoStatus> kIgnored;
  const Case cases[] = {
      {"our reply", Family::kV4, true, reply, kDestination, EchoStatus::kSuccess},
      {"our reply, datagram socket: the kernel owns the id", Family::kV4, false,
       Message(kEchoReply, 0, EchoFields(99, kSequence, kPayload)), kDestination,
       EchoStatus::kSuccess},
      {"another identifier", Family::kV4, true,
       Message(kEchoReply, 0, EchoFields(99, kSequence, kPayload)), kDestination, kIgnored},
      {"another sequence", Family::kV4, true,
       Message(kEchoReply, 0, EchoFields(kId, kSequence + 1, kPayload)), kDestination, kIgnored},
      {"another payload", Family::kV4, true,
       Message(kEchoReply, 0, EchoFields(kId, kSequence, "PINGECHOICMPTESX")), kDestination,
       kIgnored},
      {"a cut payload", Family::kV4, true,
       Message(kEchoReply, 0, EchoFields(kId, kSequence, "PINGECHO")), kDestination, kIgnored},
      {"from another host", Family::kV4, true, reply, kOther, kIgnored},
      {"a reply with a code", Family::kV4, true,
       Message(kEchoReply, 1, EchoFields(kId, kSequence, kPayload)), kDestination, kIgnored},
      {"a bad checksum", Family::kV4, true, bad_sum, kDestination, kIgnored},
      {"shorter than a header", Family::kV4, true, Bytes(reply.begin(), reply.begin() + 7),
       kDestination, kIgnored},
      {"unreachable, quoting us", Family::kV4, true,
       Message(kDestUnreachable, 1, Quote4(kDestination)), kOther, EchoStatus::kOther},
      {"a forged unreachable for another destination", Family::kV4, true,
       Message(kDestUnreachable, 1, Quote4(kOther)), kOther, kIgnored},
      {"time exceeded in transit", Family::kV4, true,
       Message(kTimeExceeded, 0, Quote4(kDestination)), kOther, EchoStatus::kTtlExpired},
      {"time exceeded in reassembly", Family::kV4, false,
       Message(kTimeExceeded, 1, Quote4(kDestination)), kOther, EchoStatus::kOther},
      {"a quote cut inside our header", Family::kV4, true,
       Message(kTimeExceeded, 0, Quote4(kDestination, 4)), kOther, kIgnored},
      {"a quote of another protocol", Family::kV4, true,
       Message(kTimeExceeded, 0, Quote4(kDestination, 8, 17)), kOther, kIgnored},
      {"a quote whose header is too short", Family::kV4, true,
       Message(kTimeExceeded, 0, Quote4(kDestination, 8, 1, 4)), kOther, kIgnored},
      {"a quote with IP options", Family::kV4, true,
       Message(kParameterProblem, 0, Quote4(kDestination, 8, 1, 6)), kOther, EchoStatus::kOther},
      {"a quote of another request", Family::kV4, true,
       Message(kSourceQuench, 0, Quote4(kDestination, 8, 1, 5, kSequence + 1)), kOther, kIgnored},
      {"a redirect: the request still travels", Family::kV4, true,
       Message(5, 1, Quote4(kDestination)), kOther, kIgnored},
      {"our reply over IPv6", Family::kV6, true,
       Message(kEcho6Reply, 0, EchoFields(kId, kSequence, kPayload)), kDestination6,
       EchoStatus::kSuccess},
      {"an IPv4 reply type over IPv6", Family::kV6, true,
       Message(kEchoReply, 0, EchoFields(kId, kSequence, kPayload)), kDestination6, kIgnored},
      {"an IPv6 reply from another host", Family::kV6, true,
       Message(kEcho6Reply, 0, EchoFields(kId, kSequence, kPayload)), kOther6, kIgnored},
      {"hop limit exceeded", Family::kV6, false, Message(kTimeExceeded6, 0, Quote6(kDestination6)),
       kOther6, EchoStatus::kTtlExpired},
      {"fragment reassembly exceeded", Family::kV6, false,
       Message(kTimeExceeded6, 1, Quote6(kDestination6)), kOther6, EchoStatus::kOther},
      {"packet too big", Family::kV6, true, Message(kPacketTooBig6, 0, Quote6(kDestination6)),
       kOther6, EchoStatus::kOther},
      {"a forged IPv6 unreachable for another destination", Family::kV6, true,
       Message(kDestUnreachable6, 0, Quote6(kOther6)), kOther6, kIgnored},
      {"an IPv6 quote that is not IPv6", Family::kV6, true,
       Message(kDestUnreachable6, 0, Quote6(kDestination6, 4)), kOther6, kIgnored},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Classify(c.message, c.source, Request(c.family, c.raw)), c.status) << c.what;
  }
}

TEST(IcmpPacketTest, RequestsAndRawPacketsAreLaidOutAsTheWireWantsThem) {
  const Bytes request = BuildEchoRequest(Family::kV4, kId, kSequence, kPayload);
  ASSERT_EQ(request.size(), 8 + kPayload.size());
  EXPECT_EQ(Bytes(request.begin(), request.begin() + 2), (Bytes{kEchoRequest, 0}));
  EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 8), (Bytes{0x12, 0x34, 0, 7}));
  EXPECT_EQ(Checksum(request), 0);  // the stored sum makes the whole sum to zero
  const Bytes request6 = BuildEchoRequest(Family::kV6, kId, kSequence, kPayload);
  EXPECT_EQ(request6[0], kEcho6Request);
  EXPECT_EQ(request6[2] | request6[3], 0);  // the kernel sums ICMPv6

  Bytes packet(24, 0);
  packet[0] = 0x45;
  EXPECT_EQ(Ipv4Payload(packet)->size(), 4u);
  packet[0] = 0x47;  // a header of 28 bytes in a packet of 24
  EXPECT_FALSE(Ipv4Payload(packet));
  packet[0] = 0x44;
  EXPECT_FALSE(Ipv4Payload(packet));
  EXPECT_FALSE(Ipv4Payload(Bytes(19, 0x45)));
}

}  // namespace
}  // namespace trelvane::icmp
