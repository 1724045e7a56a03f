// The packet rules on bytes: what the prober accepts as its answer, and what it passes over.

#include "probe/icmp_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace trelvane::icmp {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kTo = {10, 250, 0, 1}, kElsewhere = {10, 250, 0, 2};
const Bytes kTo6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const Bytes kElsewhere6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
constexpr std::uint16_t kId = 0x1234, kSequence = 7;
constexpr std::string_view kPayload = "PINGECHOICMPTEST";

// An ICMP message with its checksum right (IPv4's rule; ICMPv6 ignores it here).
Bytes Message(std::uint8_t type, std::uint8_t code, const Bytes& rest) {
  Bytes message = {type, code, 0, 0};
  message.insert(message.end(), rest.begin(), rest.end());
  const std::uint16_t sum = Checksum(message);
  std::memcpy(message.data() + 2, &sum, 2);
  return message;
}

Bytes Reply(std::uint8_t type, std::uint16_t id = kId, std::uint16_t sequence = kSequence,
            std::string_view payload = kPayload, std::uint8_t code = 0) {
  Bytes fields = {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),
                  static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence)};
  fields.insert(fields.end(), payload.begin(), payload.end());
  return Message(type, code, fields);
}

// An error quoting an IPv4 request to `to`: the original IP header (`ihl` words, `protocol`) and
// `quoted` bytes of the request with sequence `sequence`.
Bytes Error4(std::uint8_t type, std::uint8_t code, const Bytes& to, std::size_t quoted = 8,
             std::uint8_t protocol = 1, std::uint8_t ihl = 5, std::uint16_t sequence = kSequence) {
  Bytes data(4 + std::max(ihl * 4, 20), 0);
  data[4] = static_cast<std::uint8_t>(0x40 | ihl);
  data[13] = protocol;
  std::copy(to.begin(), to.end(), data.begin() + 20);
  const Bytes request = BuildEchoRequest(Family::kV4, kId, sequence, kPayload);
  data.insert(data.end(), request.begin(), request.begin() + static_cast<long>(quoted));
  return Message(type, code, data);
}

Bytes Error6(std::uint8_t type, std::uint8_t code, const Bytes& to, std::uint8_t version = 6) {
  Bytes data(44, 0);
  data[4] = static_cast<std::uint8_t>(version << 4);
  data[10] = kNextHeaderIcmp6;
  std::copy(to.begin(), to.end(), data.begin() + 28);
  const Bytes request = BuildEchoRequest(Family::kV6, kId, kSequence, kPayload);
  data.insert(data.end(), request.begin(), request.begin() + 8);
  return Message(type, code, data);
}

TEST(IcmpPacketTest, OnlyOurAnswerOrAnErrorQuotingOurRequestSettlesIt) {
  const Family v4 = Family::kV4, v6 = Family::kV6;
  const std::optional<EchoStatus> kIgnored;
  const auto kSuccess = EchoStatus::kSuccess, kOther = EchoStatus::kOther,
             kExpired = EchoStatus::kTtlExpired;
  Bytes bad_sum = Reply(kEchoReply);
  bad_sum[2] ^= 1;
  struct Case {
    const char* what;
    Family family;
    bool raw;  // the identifier is checked
    Bytes message, source;
    std::optional<EchoStatus> status;
  };
  const Case cases[] = {
      {"our reply", v4, true, Reply(kEchoReply), kTo, kSuccess},
      {"a datagram socket's reply", v4, false, Reply(kEchoReply, 99), kTo, kSuccess},
      {"another identifier", v4, true, Reply(kEchoReply, 99), kTo, kIgnored},
      {"another sequence", v4, true, Reply(kEchoReply, kId, 8), kTo, kIgnored},
      {"another payload", v4, true, Reply(kEchoReply, kId, kSequence, "PINGECHOICMPTESX"), kTo,
       kIgnored},
      {"a cut payload", v4, true, Reply(kEchoReply, kId, kSequence, "PINGECHO"), kTo, kIgnored},
      {"from another host", v4, true, Reply(kEchoReply), kElsewhere, kIgnored},
      {"a reply with a code", v4, true, Reply(kEchoReply, kId, kSequence, kPayload, 1), kTo,
       kIgnored},
      {"a bad checksum", v4, true, bad_sum, kTo, kIgnored},
      {"shorter than a header", v4, true, Bytes(7, 0), kTo, kIgnored},
      {"unreachable, quoting us", v4, true, Error4(kDestUnreachable, 1, kTo), kElsewhere, kOther},
      {"a forged unreachable", v4, true, Error4(kDestUnreachable, 1, kElsewhere), kTo, kIgnored},
      {"time exceeded in transit", v4, true, Error4(kTimeExceeded, 0, kTo), kElsewhere, kExpired},
      {"time exceeded reassembling", v4, false, Error4(kTimeExceeded, 1, kTo), kTo, kOther},
      {"a quote cut in our header", v4, true, Error4(kTimeExceeded, 0, kTo, 4), kTo, kIgnored},
      {"a quote of UDP", v4, true, Error4(kTimeExceeded, 0, kTo, 8, 17), kTo, kIgnored},
      {"a quoted header too short", v4, true, Error4(kTimeExceeded, 0, kTo, 8, 1, 4), kTo,
       kIgnored},
      {"a quote with IP options", v4, true, Error4(kParameterProblem, 0, kTo, 8, 1, 6), kTo,
       kOther},
      {"a quote of another request", v4, true, Error4(kSourceQuench, 0, kTo, 8, 1, 5, 8), kTo,
       kIgnored},
      {"a redirect: the request travels on", v4, true, Error4(5, 1, kTo), kTo, kIgnored},
      {"our IPv6 reply", v6, true, Reply(kEcho6Reply), kTo6, kSuccess},
      {"an IPv4 reply type over IPv6", v6, true, Reply(kEchoReply), kTo6, kIgnored},
      {"an IPv6 reply from another host", v6, true, Reply(kEcho6Reply), kElsewhere6, kIgnored},
      {"hop limit exceeded", v6, false, Error6(kTimeExceeded6, 0, kTo6), kElsewhere6, kExpired},
      {"reassembly time exceeded", v6, false, Error6(kTimeExceeded6, 1, kTo6), kTo6, kOther},
      {"packet too big", v6, true, Error6(kPacketTooBig6, 0, kTo6), kElsewhere6, kOther},
      {"a forged IPv6 unreachable", v6, true, Error6(kDestUnreachable6, 0, kElsewhere6), kTo6,
       kIgnored},
      {"a quote that is not IPv6", v6, true, Error6(kDestUnreachable6, 0, kTo6, 4), kTo6, kIgnored},
      {"an IPv6 redirect: the request travels on", v6, true, Error6(137, 0, kTo6), kTo6, kIgnored},
      {"a parameter problem", v6, true, Error6(kParameterProblem6, 0, kTo6), kElsewhere6, kOther},
  };
  for (const Case& c : cases) {
    Expected request;
    request.family = c.family;
    request.destination = c.family == v6 ? kTo6 : kTo;
    if (c.raw) request.id = kId;
    request.sequence = kSequence;
    request.payload = kPayload;
    EXPECT_EQ(Classify(c.message, c.source, request), c.status) << c.what;
  }
}

TEST(IcmpPacketTest, RequestsAndRawPacketsAreLaidOutAsTheWireWantsThem) {
  const Bytes request = BuildEchoRequest(Family::kV4, kId, kSequence, kPayload);
  const Bytes reply = Reply(kEchoReply);
  EXPECT_EQ(request, Message(kEchoRequest, 0, Bytes(reply.begin() + 4, reply.end())));
  EXPECT_EQ(Checksum(request), 0);  // the stored sum makes the whole sum zero
  const Bytes request6 = BuildEchoRequest(Family::kV6, kId, kSequence, kPayload);
  EXPECT_EQ(Bytes(request6.begin(), request6.begin() + 4), (Bytes{kEcho6Request, 0, 0, 0}));
  // A header of 20 bytes; of 28, longer than the packet; of 16, too short; a packet of 19 bytes.
  EXPECT_EQ(
      Ipv4Payload(Bytes{0x45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9})->size(),
      1u);
  EXPECT_FALSE(Ipv4Payload(Bytes(24, 0x47)) || Ipv4Payload(Bytes(24, 0x44)) ||
               Ipv4Payload(Bytes(19, 0x45)));
}

}  // namespace
}  // namespace trelvane::icmp
