#include "measure/burst_cycle.h"

#include <string>

namespace trelvane {

void BurstCycle::Begin(unsigned generation) {
  active_ = true;
  generation_ = generation;
  request_ = 1;
  counters_ = BurstCounters{};
  not_permitted_ = false;
  no_such_host_ = true;
}

std::optional<Measurement> BurstCycle::Count(unsigned generation, const PingResult& reply) {
  if (!running(generation)) return std::nullopt;
  if (reply.not_permitted) not_permitted_ = true;
  if (!reply.no_such_host) no_such_host_ = false;
  counters_.Count(reply.text);
  return Measurement{FormatStamp(clock_.Now(), clock_.separators()),
                     std::to_string(counters_.LossPercent()),
                     std::to_string(counters_.ResponseTimeMs())};
}

bool BurstCycle::Advance() {
  if (request_ < kRequestsPerBurst) {
    ++request_;
    return true;
  }
  active_ = false;
  return false;
}

}  // namespace trelvane
