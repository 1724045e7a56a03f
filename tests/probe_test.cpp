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

TEST(PingResultTest, EveryStatusGivesItsText) {
  struct Case {
    EchoStatus status;
    std::uint32_t rtt_ms;
    std::string text;
  };
  const Case cases[] = {
      {EchoStatus::kSuccess, 23, "23 ms"},
      {EchoStatus::kSuccess, 0, "0 ms"},
      // The echo never reached the host: a routing loop must not read as a perfect link.
      {EchoStatus::kTtlExpired, 31, "Err"},
      {EchoStatus::kTtlExpired, 0, "Err"},
      {EchoStatus::kTimedOut, 0, "Timeout"},
      {EchoStatus::kBadOption, 0, "Err"},
      {EchoStatus::kBufferTooSmall, 0, "SZErr"},
      // Destination unreachable and the rest, or no reply record at all: never a time of 0 ms.
      {EchoStatus::kOther, 0, "Err"},
      {EchoStatus::kOther, 17, "Err"},
      {EchoStatus::kNoReply, 0, "Err"},
  };
  for (const Case& c : cases) {
    FakeEchoService service;
    service.replies.push_back(EchoReply{c.status, c.rtt_ms});
    EXPECT_EQ(Pinger(service).Ping("10.0.0.1"), c.text) << StatusWord(c.status);
  }
}

TEST(RoundTripTest, KernelStampUnlessTheWallClockWasStepped) {
  constexpr std::int64_t ms = 1'000'000;
  const ClockReading sent{1'000'000 * ms, 50 * ms};
  struct Case {
    const char* name;
    std::optional<std::int64_t> received_real_ns;
    ClockReading now;
    std::int64_t expected_ms;
  };
  const Case cases[] = {
      {"the stamp, exact under load",
       sent.real_ns + 20 * ms,
       {sent.real_ns + 25 * ms, 75 * ms},
       20},
      {"no stamp", std::nullopt, {sent.real_ns + 25 * ms, 75 * ms}, 25},
      {"stepped an hour ahead",
       sent.real_ns + 3'600'020 * ms,
       {sent.real_ns + 3'600'021 * ms, 71 * ms},
       21},
      {"stepped back", sent.real_ns - 5'000 * ms, {sent.real_ns - 4'999 * ms, 51 * ms}, 1},
      {"slewed by half a millisecond",
       sent.real_ns + 20 * ms,
       {sent.real_ns + 30 * ms + ms / 2, 80 * ms},
       20},
      {"stamp before the send", sent.real_ns - ms, {sent.real_ns + 3 * ms, 53 * ms}, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundTripNs(sent, c.received_real_ns, c.now) / ms, c.expected_ms) << c.name;
  }
}

TEST(PingResultTest, TimeoutIsMadePositiveAndCapped) {
  const std::pair<int, int> cases[] = {{2000, 2000},   {-1500, 1500},    {40000, 32767},
                                       {32767, 32767}, {INT_MIN, 32767}, {0, 0}};
  for (const auto& [given, used] : cases) {
    FakeEchoService service;
    Pinger(service).SendEcho(Dotted("10.0.0.1"), given, 245, "x");
    ASSERT_EQ(service.sent.size(), 1u);
    EXPECT_EQ(service.sent[0].timeout_ms, used) << given;
  }
}

// How a host text is turned into an address: which texts are parsed, which are looked up.
TEST(ResolveHostTest, ParsesShortDottedTextsAndLooksUpTheRest) {
  struct Case {
    std::string host;
    bool parsed;
    bool looked_up;
    const char* sent_to;  // nullptr: nothing sent
  };
  const Case cases[] = {
      {"127.0.0.1", true, false, "127.0.0.1"},
      {"192.168.100.200", true, false, "192.168.100.200"},  // 15 characters
      {"10.1", true, false, "10.0.0.1"},                    // inet_addr's short forms stand
      // 16 characters or more: always by name, even when it starts with digits.
      {"192.168.100.2000", false, true, "10.9.9.9"},
      {"1234567890123456", false, true, nullptr},
      // All ones and 0 are no addresses: looked up by name.
      {"255.255.255.255", true, true, "10.9.9.8"},
      {"0.0.0.0", true, true, nullptr},
      {"", true, true, nullptr},
      {"example.test", true, true, "10.9.9.7"},
      {"nowhere.invalid", true, true, nullptr},
  };
  for (const Case& c : cases) {
    FakeEchoService service;
    service.names = {{"192.168.100.2000", Dotted("10.9.9.9")},
                     {"255.255.255.255", Dotted("10.9.9.8")},
                     {"example.test", Dotted("10.9.9.7")}};
    service.replies.push_back(EchoReply{EchoStatus::kSuccess, 12});
    const std::string result = Pinger(service).Ping(c.host);
    SCOPED_TRACE("host \"" + c.host + "\"");
    EXPECT_EQ(!service.parsed.empty(), c.parsed);
    EXPECT_EQ(service.looked_up,
              c.looked_up ? std::vector<std::string>{c.host} : std::vector<std::string>{});
    if (c.sent_to == nullptr) {
      // A name that cannot be resolved sends nothing and is a failure, not "0 ms".
      EXPECT_TRUE(service.sent.empty());
      EXPECT_EQ(result, "Err");
    } else {
      ASSERT_EQ(service.sent.size(), 1u);
      EXPECT_EQ(service.sent[0].address, Dotted(c.sent_to));
      EXPECT_EQ(result, "12 ms");
    }
  }
}

TEST(ResolveHostTest, Ipv6BesideIpv4) {
  FakeEchoService service;
  Ipv6Address six;
  six.bytes[15] = 8;
  service.names["both"] = Dotted("10.0.0.4");
  service.names6["both"] = six;
  service.names6["six"] = six;
  const Pinger pinger(service);
  struct Case {
    const char* host;
    bool v6;
  };
  // A dotted IPv4 text and a name with an IPv4 address stay IPv4; an IPv6 literal and a name with
  // only an IPv6 address go over ICMPv6.
  for (const Case c : {Case{"10.0.0.1", false}, Case{"::1", true}, Case{"2001:db8::1", true},
                       Case{"both", false}, Case{"six", true}}) {
    const std::optional<Pinger::Target> target = pinger.ResolveTarget(c.host);
    ASSERT_TRUE(target.has_value()) << c.host;
    EXPECT_EQ(target->address6.has_value(), c.v6) << c.host;
  }
  EXPECT_FALSE(pinger.ResolveTarget("nowhere").has_value());
  // Each request carries the designed payload, time-to-live (hop limit) and timeout.
  EXPECT_EQ(pinger.Ping("six"), "Timeout");
  EXPECT_EQ(pinger.Ping("10.1.2.3"), "Timeout");
  ASSERT_EQ(service.sent.size(), 2u);
  EXPECT_EQ(service.sent[0].address6, six);
  EXPECT_EQ(service.sent[1].address, Dotted("10.1.2.3"));
  for (const FakeEchoService::Sent& sent : service.sent) {
    EXPECT_EQ(sent.payload, "PINGECHOICMPTEST");
    EXPECT_EQ(sent.ttl, 245);
    EXPECT_EQ(sent.timeout_ms, 2000);
  }
  // The IPv6 lookup is only made when there is no IPv4 address.
  EXPECT_EQ(service.looked_up6, (std::vector<std::string>{"six", "nowhere", "six"}));
}

TEST(ResolveHostTest, EveryCallResolvesAfreshTheWholeText) {
  FakeEchoService service;
  service.names = {{"moving.test", Dotted("10.0.0.1")}, {"127.0.0.1", Dotted("127.0.0.1")}};
  service.replies = {EchoReply{EchoStatus::kSuccess, 1}, EchoReply{EchoStatus::kSuccess, 1}};
  const Pinger pinger(service);
  pinger.Ping("moving.test");
  service.names["moving.test"] = Dotted("10.0.0.2");
  pinger.Ping("moving.test");
  ASSERT_EQ(service.sent.size(), 2u);
  EXPECT_EQ(service.sent[1].address, Dotted("10.0.0.2"));
  // A text with a NUL in it is never cut short to the name before it.
  EXPECT_EQ(pinger.Ping(std::string("127.0.0.1\0evil", 14)), "Err");
  EXPECT_EQ(service.sent.size(), 2u);
}

}  // namespace
}  // namespace trelvane
