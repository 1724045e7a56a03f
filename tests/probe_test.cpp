#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "fake_echo_service.h"
#include "probe/pinger.h"
#include "probe/round_trip.h"

namespace trelvane {
namespace {

using testing::Dotted;
using testing::FakeEchoService;
using Strings = std::vector<std::string>;

TEST(PingResultTest, EveryStatusGivesItsText) {
  const struct {
    EchoStatus status;
    std::uint32_t rtt_ms;
    const char* text;
  } cases[] = {
      {EchoStatus::kSuccess, 23, "23 ms"},
      {EchoStatus::kSuccess, 0, "0 ms"},
      // The echo never reached the host: a routing loop must not read as a perfect link.
      {EchoStatus::kTtlExpired, 31, "Err"},
      {EchoStatus::kTimedOut, 0, "Timeout"},
      {EchoStatus::kBadOption, 0, "Err"},
      {EchoStatus::kBufferTooSmall, 0, "SZErr"},
      // Destination unreachable and the rest, or no reply record at all: never a time of 0 ms.
      {EchoStatus::kOther, 17, "Err"},
      {EchoStatus::kNoReply, 0, "Err"},
  };
  for (const auto& c : cases) {
    FakeEchoService service;
    service.replies.push_back(EchoReply{c.status, c.rtt_ms});
    EXPECT_EQ(Pinger(service).Ping("10.0.0.1"), c.text) << StatusWord(c.status);
  }
  // The timeout asked for is made positive and capped.
  for (const auto& [given, used] :
       {std::pair{2000, 2000}, {-1500, 1500}, {40000, 32767}, {INT_MIN, 32767}, {0, 0}}) {
    FakeEchoService service;
    Pinger(service).SendEcho(Dotted("10.0.0.1"), given, 245, "x");
    EXPECT_EQ(service.sent.at(0).timeout_ms, used) << given;
  }
}

TEST(RoundTripTest, KernelStampUnlessTheWallClockWasStepped) {
  constexpr std::int64_t us = 1'000;
  const ClockReading sent{1'000'000'000 * us, 50'000 * us};
  // Microseconds after the send: the receive stamp, the wall clock and the steady clock now.
  const struct {
    const char* name;
    std::optional<std::int64_t> stamp;
    std::int64_t real, steady, expected_ms;
  } cases[] = {
      {"the stamp, exact under load", 20'000, 25'000, 25'000, 20},
      {"no stamp", std::nullopt, 25'000, 25'000, 25},
      {"stepped an hour ahead", 3'600'020'000, 3'600'021'000, 21'000, 21},
      {"stepped back", -5'000'000, -4'999'000, 1'000, 1},
      {"slewed by half a millisecond", 20'000, 30'500, 30'000, 20},
      {"slewed by a millisecond exactly", 20'000, 31'000, 30'000, 20},
      {"stamp before the send", -1'000, 3'000, 3'000, 3},
  };
  for (const auto& c : cases) {
    const std::optional<std::int64_t> stamp =
        c.stamp ? std::optional(sent.real_ns + *c.stamp * us) : std::nullopt;
    const ClockReading now{sent.real_ns + c.real * us, sent.monotonic_ns + c.steady * us};
    EXPECT_EQ(RoundTripNs(sent, stamp, now) / (1000 * us), c.expected_ms) << c.name;
  }
}

// How a host text is turned into an address: which texts are parsed, which are looked up.
TEST(ResolveHostTest, ParsesShortDottedTextsAndLooksUpTheRest) {
  const struct {
    std::string host;
    Strings log;
    const char* sent_to;  // nullptr: nothing sent
  } cases[] = {
      {"127.0.0.1", {"parse 127.0.0.1"}, "127.0.0.1"},
      {"192.168.100.200", {"parse 192.168.100.200"}, "192.168.100.200"},  // 15 characters
      {"10.1", {"parse 10.1"}, "10.0.0.1"},  // inet_addr's short forms stand
      // 16 characters or more: always by name, even when it starts with digits.
      {"192.168.100.2000", {"lookup 192.168.100.2000"}, "10.9.9.9"},
      {"1234567890123456", {"lookup 1234567890123456", "lookup6 1234567890123456"}, nullptr},
      // All ones and 0 are no addresses: looked up by name.
      {"255.255.255.255", {"parse 255.255.255.255", "lookup 255.255.255.255"}, "10.9.9.8"},
      {"0.0.0.0", {"parse 0.0.0.0", "lookup 0.0.0.0", "lookup6 0.0.0.0"}, nullptr},
      {"example.test", {"parse example.test", "lookup example.test"}, "10.9.9.7"},
      // A text with a NUL in it is never cut short to the name before it.
      {std::string("127.0.0.1\0x", 11), {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("host \"" + c.host + "\"");
    FakeEchoService service;
    service.names = {{"192.168.100.2000", Dotted("10.9.9.9")},
                     {"255.255.255.255", Dotted("10.9.9.8")},
                     {"example.test", Dotted("10.9.9.7")}};
    service.replies.push_back(EchoReply{EchoStatus::kSuccess, 12});
    const std::string result = Pinger(service).Ping(c.host);
    EXPECT_EQ(service.log, c.log);
    // A name that cannot be resolved sends nothing and is a failure, not "0 ms".
    EXPECT_EQ(result, c.sent_to ? "12 ms" : "Err");
    ASSERT_EQ(service.sent.size(), c.sent_to ? 1u : 0u);
    for (const EchoRequest& sent : service.sent) EXPECT_EQ(sent.address, Dotted(c.sent_to));
  }
}

TEST(ResolveHostTest, Ipv6BesideIpv4AndAfreshEachTime) {
  FakeEchoService service;
  Ipv6Address six;
  six.bytes[15] = 8;
  service.names["both"] = Dotted("10.0.0.4");
  service.names6["both"] = six;
  service.names6["six"] = six;
  const Pinger pinger(service);
  // A dotted IPv4 text and a name with an IPv4 address stay IPv4; an IPv6 literal and a name with
  // only an IPv6 address go over ICMPv6.
  for (const auto& [host, v6] : {std::pair{"10.0.0.1", false},
                                 {"::1", true},
                                 {"2001:db8::1", true},
                                 {"both", false},
                                 {"six", true}}) {
    const std::optional<Pinger::Target> target = pinger.ResolveTarget(host);
    ASSERT_TRUE(target.has_value()) << host;
    EXPECT_EQ(target->address6.has_value(), v6) << host;
  }
  // Each request carries the designed payload, time-to-live (hop limit) and timeout; a name is
  // looked up again for every request.
  EXPECT_EQ(pinger.Ping("six"), "Timeout");
  service.names["six"] = Dotted("10.1.2.3");
  EXPECT_EQ(pinger.Ping("six"), "Timeout");
  ASSERT_EQ(service.sent.size(), 2u);
  EXPECT_EQ(service.sent[0].address6, six);
  EXPECT_EQ(service.sent[1].address, Dotted("10.1.2.3"));
  for (const EchoRequest& sent : service.sent) {
    EXPECT_EQ(sent.payload, "PINGECHOICMPTEST");
    EXPECT_EQ(std::pair(sent.ttl, sent.timeout_ms), std::pair(245, 2000));
  }
}

}  // namespace
}  // namespace trelvane
