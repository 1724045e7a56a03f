#include "measure/burst_command.h"

#include "measure/burst.h"

namespace trelvane {

Measurement RunBurst(const std::function<std::string()>& ping, const Clock& clock,
                     const std::function<void(std::string_view)>& on_result) {
  BurstCounters counters;
  Measurement measurement;
  for (int i = 1; i <= kRequestsPerBurst; ++i) {
    const std::string result = ping();
    on_result(result);
    counters.Count(result);
    measurement.stamp = FormatStamp(clock.Now(), clock.separators());
  }
  measurement.loss = std::to_string(counters.LossPercent());
  measurement.response = std::to_string(counters.ResponseTimeMs());
  return measurement;
}

}  // namespace trelvane
