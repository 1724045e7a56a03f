// Real ICMP through the system echo service: on loopback, and in the namespace lab that
// tests/network/run_probe_network.sh builds (our echo responder behind a veth pair). The lab's
// address prefix comes in TRELVANE_LAB; which socket the prober must be using comes in
// TRELVANE_EXPECT_SOCKET ("datagram" or "raw").

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "measure/clock.h"
#include "probe/pinger.h"
#include "probe/system_echo_service.h"

namespace trelvane {
namespace {

using Clock = std::chrono::steady_clock;

// The lab's far host `host` (2 to 10), over IPv4 or IPv6: the responder behaves alike on both.
std::string Lab(int host, bool v6 = false) {
  char hex[8];
  std::snprintf(hex, sizeof(hex), "%x", host);
  return v6 ? "fd00:199:77::" + std::string(hex)
            : std::getenv("TRELVANE_LAB") + ("." + std::to_string(host));
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

// Each result about 20 ms, and the median of several 20 or 21.
void ExpectAbout20(std::vector<std::string> results) {
  for (const std::string& result : results) {
    EXPECT_TRUE(Milliseconds(result) >= 20 && Milliseconds(result) <= 24) << result;
  }
  std::sort(results.begin(), results.end(), [](const std::string& a, const std::string& b) {
    return Milliseconds(a) < Milliseconds(b);
  });
  const int median = Milliseconds(results[results.size() / 2]);
  EXPECT_TRUE(results.size() < 3 || median == 20 || median == 21) << "median " << median;
}

TEST_F(ProbeNetworkTest, TheExpectedSocketLoopbackNamesAndNoRoute) {
  // The prober tries the datagram socket first, so this tells which one it ends up with.
  for (const auto& [family, protocol] :
       {std::pair{AF_INET, int{IPPROTO_ICMP}}, {AF_INET6, int{IPPROTO_ICMPV6}}}) {
    const int fd = socket(family, SOCK_DGRAM, protocol);
    EXPECT_EQ(fd >= 0 ? "datagram" : "raw", std::string(std::getenv("TRELVANE_EXPECT_SOCKET")));
    if (fd >= 0) close(fd);
  }
  for (const char* host : {"127.0.0.1", "localhost", "127.3.4.5", "::1", "[::1]"}) {
    const std::string result = Ping(host);
    EXPECT_TRUE(result == "0 ms" || result == "1 ms") << host << ": " << result;
  }
  // Nothing leaves the lab: the near namespace has no route beyond its own networks.
  EXPECT_EQ(Ping("10.250.1.1"), "Err");
  EXPECT_EQ(Ping("2001:db8::1"), "Err");
  // The lab's hosts file lists 10.250.9.1 (no route) before the lab's own .8: the first counts.
  EXPECT_EQ(pinger_.LookupHost("trelvane-two.test"), inet_addr("10.250.9.1"));
  EXPECT_EQ(Ping("trelvane-two.test"), "Err");
  // A name with only an IPv6 address is measured over IPv6; with both, over IPv4 (its address is
  // the unreachable .4, the IPv6 one answers).
  ExpectAbout20({Ping("trelvane-six.test")});
  EXPECT_EQ(Ping("trelvane-both.test"), "Err");
}

// Each far host as the responder scripts it (see network/echo_responder.py), over either family.
TEST_P(BothFamiliesTest, EveryScriptedAnswerIsReadRight) {
  const struct {
    int host, count;
    const char* expected;  // nullptr: about 20 ms each
    int min_ms, max_ms;    // how long each request takes
  } cases[] = {
      {8, 5, nullptr, 0, 100},
      {9, 1, nullptr, 0, 100},  // answers only time-to-live 245 and our payload
      {3, 1, "Timeout", 1900, 2100},
      {4, 1, "Err", 0, 500},  // destination unreachable
      {7, 1, "Err", 0, 500},  // time exceeded in transit
      // A forged unreachable for another destination comes first; then the real answer.
      {10, 3, nullptr, 0, 100},
      // Three wrong replies at once, then the right one, then a duplicate while the next request
      // is in flight: none may be credited.
      {5, 5, nullptr, 0, 100},
      {6, 2, "Timeout", 1900, 2100},  // a late reply is not the next request's
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Lab(c.host));
    std::vector<std::string> results;
    for (int i = 0; i < c.count; ++i) {
      const auto start = Clock::now();
      results.push_back(Ping(Lab(c.host)));
      EXPECT_TRUE(Clock::now() - start >= std::chrono::milliseconds(c.min_ms) &&
                  Clock::now() - start <= std::chrono::milliseconds(c.max_ms));
      if (c.expected != nullptr) {
        EXPECT_EQ(results.back(), c.expected);
      }
    }
    if (c.expected == nullptr) {
      ExpectAbout20(results);
    }
  }
  // A burst to the host that drops every fourth request.
  const SystemClock clock;
  int results = 0;
  const Measurement m = RunBurst([&] { return pinger_.PingResultFor(Lab(2)); }, clock,
                                 [&](std::string_view) { ++results; })
                            .measurement;
  EXPECT_EQ(results, 24);
  EXPECT_EQ(m.loss, "25");
  EXPECT_TRUE(m.response == "20" || m.response == "21") << m.response;
}

TEST_P(BothFamiliesTest, HeavyForeignEchoTrafficMakesNoFalseLoss) {
  // Flood pings on loopback: tens of thousands of echo replies a second that every raw ICMP socket
  // of the host sees. None of our requests may be lost to them.
  const char* flood[] = {
      "ping", "-q", "-f", "-w", "12", "-s", "1000", GetParam() ? "::1" : "127.0.0.1", nullptr};
  pid_t floods[3];
  for (pid_t& pid : floods) {
    posix_spawnp(&pid, "ping", nullptr, nullptr, const_cast<char**>(flood), environ);
  }
  usleep(300'000);
  int lost = 0;
  for (int i = 0; i < 48; ++i) lost += Milliseconds(Ping(Lab(8))) < 0;
  for (const pid_t pid : floods) {
    int status = 0;
    kill(pid, SIGINT);
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a flood did not run";
  }
  EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace trelvane
