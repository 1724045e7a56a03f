// Real ICMP through the system echo service: on loopback, and in the namespace lab that
// tests/network/run_probe_network.sh builds (our echo responder behind a veth pair). The lab's
// address prefix comes in TRELVANE_LAB; which socket the prober must be using comes in
// TRELVANE_EXPECT_SOCKET ("datagram" or "raw").

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "measure/burst_command.h"
#include "measure/clock.h"
#include "probe/pinger.h"
#include "probe/system_echo_service.h"

namespace trelvane {
namespace {

using Clock = std::chrono::steady_clock;

// The lab's far host `host` (2 to 10), over IPv4 or IPv6: the responder behaves alike on both.
std::string Lab(int host, bool v6 = false) {
  if (v6) {
    char text[32];
    std::snprintf(text, sizeof(text), "fd00:199:77::%x", host);
    return text;
  }
  const char* prefix = std::getenv("TRELVANE_LAB");
  return std::string(prefix != nullptr ? prefix : "") + "." + std::to_string(host);
}

class ProbeNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("TRELVANE_LAB") == nullptr) {
      GTEST_SKIP() << "needs the namespace lab: run through tests/network/run_probe_network.sh";
    }
  }

  std::string Ping(const std::string& host) const { return pinger_.Ping(host); }

  std::unique_ptr<EchoService> service_ = MakeSystemEchoService();
  Pinger pinger_{*service_};
};

// The tests that both families pass alike.
class BothFamiliesTest : public ProbeNetworkTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::string Lab(int host) const { return trelvane::Lab(host, GetParam()); }
};
INSTANTIATE_TEST_SUITE_P(Lab, BothFamiliesTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "IPv6" : "IPv4"; });

// The responder answers 20.5 ms after each request reaches it: 20, or 21 when it wakes a little
// late. A busy machine (sanitizers, other jobs) now and then delays a request on its way out by a
// few milliseconds, so single results may read up to 24. A reply credited to the wrong request
// reads otherwise: the wrong replies come at once (0 ms), the duplicate 25.5 ms after the request.
int Milliseconds(const std::string& result) {
  int ms = -1;
  if (std::sscanf(result.c_str(), "%d ms", &ms) != 1) return -1;
  return ms;
}

void ExpectAbout20(const std::string& result) {
  const int ms = Milliseconds(result);
  EXPECT_TRUE(ms >= 20 && ms <= 24) << result;
}

// Several results: each about 20, and the median 20 or 21.
void ExpectAbout20(std::vector<std::string> results) {
  for (const std::string& result : results) ExpectAbout20(result);
  std::sort(results.begin(), results.end(), [](const std::string& a, const std::string& b) {
    return Milliseconds(a) < Milliseconds(b);
  });
  const int median = Milliseconds(results[results.size() / 2]);
  EXPECT_TRUE(median == 20 || median == 21) << "median " << median;
}

std::vector<std::string> PingTimes(const std::function<std::string()>& ping, int count) {
  std::vector<std::string> results;
  for (int i = 0; i < count; ++i) results.push_back(ping());
  return results;
}

TEST_F(ProbeNetworkTest, UsesTheExpectedSocket) {
  const char* expected = std::getenv("TRELVANE_EXPECT_SOCKET");
  ASSERT_NE(expected, nullptr);
  // The prober tries the datagram socket first, so this tells which one it ends up with.
  for (const int family : {AF_INET, AF_INET6}) {
    const int fd = socket(
        family, SOCK_DGRAM,
        family == AF_INET ? static_cast<int>(IPPROTO_ICMP) : static_cast<int>(IPPROTO_ICMPV6));
    if (fd >= 0) close(fd);
    EXPECT_EQ(fd >= 0 ? "datagram" : "raw", std::string(expected)) << family;
  }
}

TEST_F(ProbeNetworkTest, LoopbackAnswers) {
  for (const char* host : {"127.0.0.1", "localhost", "127.3.4.5", "::1", "[::1]"}) {
    const std::string result = Ping(host);
    EXPECT_TRUE(result == "0 ms" || result == "1 ms") << host << ": " << result;
  }
}

TEST_F(ProbeNetworkTest, NameWithTwoAddressesIsMeasuredAtTheFirst) {
  // The lab's hosts file lists 10.250.9.1 (no route) before the lab's own .8.
  EXPECT_EQ(pinger_.LookupHost("trelvane-two.test"), inet_addr("10.250.9.1"));
  EXPECT_EQ(Ping("trelvane-two.test"), "Err");
}

TEST_P(BothFamiliesTest, AnswerAfter20Point5Ms) {
  ExpectAbout20(PingTimes([&] { return Ping(Lab(8)); }, 5));
}

TEST_P(BothFamiliesTest, RequestCarriesTtl245AndThePayload) {
  // .9 answers only a request with time-to-live (hop limit) 245 and payload "PINGECHOICMPTEST".
  ExpectAbout20(Ping(Lab(9)));
}

TEST_P(BothFamiliesTest, SilenceTimesOutAfterTwoSeconds) {
  const auto start = Clock::now();
  EXPECT_EQ(Ping(Lab(3)), "Timeout");
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_GE(elapsed.count(), 2000 - 100);
  EXPECT_LE(elapsed.count(), 2000 + 100);
}

TEST_P(BothFamiliesTest, DestinationUnreachableIsAnError) {
  const auto start = Clock::now();
  EXPECT_EQ(Ping(Lab(4)), "Err");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(ProbeNetworkTest, NoRouteIsAnError) {
  // Nothing leaves the lab: the near namespace has no route beyond its own networks.
  EXPECT_EQ(Ping("10.250.1.1"), "Err");
  EXPECT_EQ(Ping("2001:db8::1"), "Err");
}

TEST_F(ProbeNetworkTest, ANameWithOnlyAnIpv6AddressIsMeasuredOverIpv6) {
  ExpectAbout20(Ping("trelvane-six.test"));
  // With both, IPv4 is measured: its address is the unreachable .4, the IPv6 one answers.
  EXPECT_EQ(Ping("trelvane-both.test"), "Err");
}

TEST_P(BothFamiliesTest, TtlExpiredInTransitIsAnError) { EXPECT_EQ(Ping(Lab(7)), "Err"); }

TEST_P(BothFamiliesTest, ForgedUnreachableForAnotherDestinationIsIgnored) {
  // .10 first sends an unreachable that quotes our identifier and sequence but another
  // destination, then the real answer.
  ExpectAbout20(PingTimes([&] { return Ping(Lab(10)); }, 3));
}

TEST_P(BothFamiliesTest, WrongAndDuplicateRepliesAreNeverCredited) {
  // Every request first draws three wrong replies at once (a 0 ms answer if one were credited),
  // then the right one, then a duplicate that lands while the next request is in flight.
  ExpectAbout20(PingTimes([&] { return Ping(Lab(5)); }, 5));
}

TEST_P(BothFamiliesTest, LateReplyIsNotCreditedToTheNextRequest) {
  // The reply to the first request arrives 500 ms into the second.
  EXPECT_EQ(Ping(Lab(6)), "Timeout");
  EXPECT_EQ(Ping(Lab(6)), "Timeout");
}

TEST_P(BothFamiliesTest, BurstWithEveryFourthDropped) {
  const SystemClock clock;
  int results = 0;
  const Measurement m =
      RunBurst([&] { return Ping(Lab(2)); }, clock, [&](std::string_view) { ++results; });
  EXPECT_EQ(results, 24);
  EXPECT_EQ(m.loss, "25");
  EXPECT_TRUE(m.response == "20" || m.response == "21") << m.response;
}

TEST_F(ProbeNetworkTest, ForeignPingFloodChangesNothing) {
  const pid_t flood = fork();
  ASSERT_GE(flood, 0);
  if (flood == 0) {
    const std::string target = Lab(8);
    execlp("ping", "ping", "-q", "-i", "0.01", "-w", "20", target.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  usleep(200'000);
  ExpectAbout20(PingTimes([&] { return Ping(Lab(8)); }, 10));
  kill(flood, SIGINT);
  int status = 0;
  waitpid(flood, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the flood did not run";
}

TEST_P(BothFamiliesTest, HeavyForeignEchoTrafficMakesNoFalseLoss) {
  // Flood pings on loopback: tens of thousands of echo replies a second that every raw ICMP socket
  // of the host sees. None of our requests may be lost to them.
  std::vector<pid_t> floods;
  for (int i = 0; i < 3; ++i) {
    const pid_t flood = fork();
    ASSERT_GE(flood, 0);
    if (flood == 0) {
      execlp("ping", "ping", "-q", "-f", "-w", "12", "-s", "1000", GetParam() ? "::1" : "127.0.0.1",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    floods.push_back(flood);
  }
  usleep(300'000);
  int lost = 0;
  int answered = 0;
  for (int i = 0; i < 48; ++i) {
    const std::string result = Ping(Lab(8));
    ++(Milliseconds(result) >= 0 ? answered : lost);
  }
  for (const pid_t flood : floods) {
    kill(flood, SIGINT);
    waitpid(flood, nullptr, 0);
  }
  std::printf("under the flood: %d answered, %d lost of 48\n", answered, lost);
  EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace trelvane
