#include "probe/trace.h"

#include <cstdio>
#include <future>

namespace trelvane {
namespace {

// The echo requests' payload and their timeout, as the prober's.
constexpr std::string_view kTracePayload = "PINGECHOICMPTEST";
constexpr int kTraceTimeoutMs = 2000;

bool Answered(const EchoReply& reply) {
  return reply.status == EchoStatus::kSuccess || reply.status == EchoStatus::kTtlExpired ||
         (reply.status == EchoStatus::kOther && !reply.from.empty());
}

}  // namespace

std::vector<TraceProbe> EchoService::SendTrace(const TraceRequest& request) {
  std::vector<std::future<EchoReply>> pending;
  for (int ttl = 1; ttl <= request.max_ttl; ++ttl) {
    for (int n = 0; n < request.probes_per_hop; ++n) {
      EchoRequest echo;
      echo.address = request.address;
      echo.address6 = request.address6;
      echo.timeout_ms = request.timeout_ms;
      echo.ttl = ttl;
      echo.payload = request.payload;
      pending.push_back(std::async(std::launch::async, [this, echo] { return SendEcho(echo); }));
    }
  }
  std::vector<TraceProbe> probes;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    probes.push_back(
        TraceProbe{static_cast<int>(i) / request.probes_per_hop + 1, pending[i].get()});
  }
  return probes;
}

bool TraceHop::reached() const {
  for (const EchoReply& reply : replies) {
    if (reply.status == EchoStatus::kSuccess) return true;
  }
  return false;
}

std::string TraceHop::address() const {
  for (const EchoReply& reply : replies) {
    if (Answered(reply) && !reply.from.empty()) return reply.from;
  }
  return {};
}

std::optional<TraceHop> TraceResult::LastAnswering() const {
  std::optional<TraceHop> last;
  for (const TraceHop& hop : hops) {
    if (!hop.address().empty()) last = hop;
  }
  return last;
}

std::vector<TraceHop> HopsOf(const std::vector<TraceProbe>& probes) {
  std::vector<TraceHop> hops;
  for (const TraceProbe& probe : probes) {
    if (hops.empty() || hops.back().ttl != probe.ttl) {
      if (!hops.empty()) {
        const TraceHop& last = hops.back();
        bool unreachable = !last.replies.empty();
        for (const EchoReply& reply : last.replies) {
          unreachable = unreachable && reply.status == EchoStatus::kOther && !reply.from.empty();
        }
        if (last.reached() || unreachable) break;
      }
      hops.push_back(TraceHop{probe.ttl, {}});
    }
    hops.back().replies.push_back(probe.reply);
  }
  return hops;
}

std::string HopLine(const TraceHop& hop) {
  char text[64];
  std::snprintf(text, sizeof(text), "%2d ", hop.ttl);
  std::string line = text;
  std::string shown;  // the address last written
  for (const EchoReply& reply : hop.replies) {
    if (!Answered(reply)) {
      line += " *";
      continue;
    }
    if (reply.from != shown) {
      line += " " + reply.from;
      shown = reply.from;
    }
    if (reply.round_trip_us >= 0) {
      std::snprintf(text, sizeof(text), "  %lld.%03lld ms",
                    static_cast<long long>(reply.round_trip_us / 1000),
                    static_cast<long long>(reply.round_trip_us % 1000));
    } else {
      std::snprintf(text, sizeof(text), "  %u ms", reply.round_trip_ms);
    }
    line += text;
    if (reply.status == EchoStatus::kOther) line += " !H";
  }
  return line;
}

TraceResult TraceHost(EchoService& service, std::string_view host, int max_ttl) {
  TraceResult result;
  const Pinger pinger(service);
  bool no_such_name = false;
  const std::optional<Pinger::Target> target = pinger.ResolveTarget(host, &no_such_name);
  if (!target) {
    result.no_such_host = no_such_name;
    return result;
  }
  result.address = target->address6 ? AddressText(*target->address6) : AddressText(target->address);
  TraceRequest request;
  request.address = target->address;
  request.address6 = target->address6;
  request.max_ttl = max_ttl;
  request.timeout_ms = kTraceTimeoutMs;
  request.payload = kTracePayload;
  const std::vector<TraceProbe> probes = service.SendTrace(request);
  for (const TraceProbe& probe : probes) {
    if (probe.reply.status == EchoStatus::kNotPermitted) result.not_permitted = true;
  }
  if (!result.not_permitted) result.hops = HopsOf(probes);
  return result;
}

}  // namespace trelvane
