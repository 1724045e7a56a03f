// Figures of the echo prober on real ICMP. Run through bench/run_probe_bench.sh, which builds the
// namespace lab (our responder answering 10.199.77.8 after 20.5 ms) and runs this inside it.
//
//   1. per-request overhead on loopback, for a dotted address and for "localhost"
//   2. mean round-trip time against iputils ping on the 20.5 ms path (IPv4 and IPv6), idle and with
//      every core busy
//   3. wall time of a burst of 24 requests on the 20.5 ms path against 24 x 20 ms

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/terminal.h"
#include "probe/pinger.h"
#include "probe/system_echo_service.h"

namespace {

using trelvane::EchoService;
using trelvane::Pinger;
using Steady = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double Mean(const std::vector<double>& values) {
  return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

void LoopbackOverhead(const Pinger& pinger, const char* host) {
  std::vector<double> us;
  for (int i = 0; i < 300; ++i) {
    const auto start = Steady::now();
    pinger.Ping(host);
    us.push_back(std::chrono::duration<double, std::micro>(Steady::now() - start).count());
  }
  std::printf("loopback %-10s per request: median %.1f us, mean %.1f us (300 requests)\n", host,
              Median(us), Mean(us));
}

// Mean round-trip time of iputils ping over `count` requests, in ms.
double IputilsMean(const std::string& target, int count) {
  const std::string command = "ping -q -n -i 0.05 -c " + std::to_string(count) + " " + target;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  double min = 0, avg = -1;
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::sscanf(line, "rtt min/avg/max/mdev = %lf/%lf", &min, &avg);
  }
  pclose(pipe);
  return avg;
}

void CompareWithIputils(EchoService& service, const std::string& target, const char* label) {
  constexpr int kCount = 60;
  std::vector<double> ours_ms;
  std::vector<double> ours_whole_ms;
  const Pinger pinger(service);
  const std::optional<Pinger::Target> resolved = pinger.ResolveTarget(target);
  if (!resolved) return;
  trelvane::EchoRequest request;
  request.address = resolved->address;
  request.address6 = resolved->address6;
  request.timeout_ms = 2000;
  request.ttl = 245;
  request.payload = trelvane::kEchoPayload;
  for (int i = 0; i < kCount; ++i) {
    const trelvane::EchoReply reply = service.SendEcho(request);
    if (reply.status != trelvane::EchoStatus::kSuccess) continue;
    ours_ms.push_back(reply.round_trip_us / 1000.0);
    ours_whole_ms.push_back(reply.round_trip_ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const double iputils = IputilsMean(target, kCount);
  std::printf(
      "%-22s ours %.3f ms (whole ms %.2f), iputils ping %.3f ms, difference %+.3f ms "
      "(%zu/%d answered)\n",
      label, Mean(ours_ms), Mean(ours_whole_ms), iputils, Mean(ours_ms) - iputils, ours_ms.size(),
      kCount);
}

}  // namespace

int main() {
  const char* lab = std::getenv("TRELVANE_LAB");
  const std::string target = std::string(lab != nullptr ? lab : "10.199.77") + ".8";
  const std::unique_ptr<EchoService> service = trelvane::MakeSystemEchoService();
  const Pinger pinger(*service);

  LoopbackOverhead(pinger, "127.0.0.1");
  LoopbackOverhead(pinger, "::1");
  LoopbackOverhead(pinger, "localhost");

  const std::string target6 = "fd00:199:77::8";
  CompareWithIputils(*service, target, "20.5 ms path, idle:");
  CompareWithIputils(*service, target6, "IPv6 20.5 ms, idle:");
  {
    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
      spinners.emplace_back([&] {
        volatile unsigned long n = 0;
        while (!stop.load(std::memory_order_relaxed)) n = n + 1;
      });
    }
    CompareWithIputils(*service, target, "20.5 ms path, busy:");
    CompareWithIputils(*service, target6, "IPv6 20.5 ms, busy:");
    stop = true;
    for (std::thread& t : spinners) t.join();
  }

  const trelvane::SystemClock clock;
  const auto start = Steady::now();
  const trelvane::Measurement m = trelvane::RunBurst([&] { return pinger.PingResultFor(target); },
                                                     clock, [](std::string_view) {})
                                      .measurement;
  const double wall_ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
  std::printf("burst of 24 at 20.5 ms: %.1f ms wall, %.3f x (24 x 20 ms = 480 ms); line %s\n",
              wall_ms, wall_ms / 480.0, trelvane::MeasurementLine(m).c_str());
  return 0;
}
