#include "probe/round_trip.h"

namespace trelvane {

std::int64_t RoundTripNs(ClockReading sent, std::optional<std::int64_t> received_real_ns,
                         ClockReading now) {
  const std::int64_t by_monotonic = now.monotonic_ns - sent.monotonic_ns;
  const std::int64_t step = (now.real_ns - now.monotonic_ns) - (sent.real_ns - sent.monotonic_ns);
  if (!received_real_ns || step > kClockStepNs || step < -kClockStepNs) return by_monotonic;
  const std::int64_t by_stamp = *received_real_ns - sent.real_ns;
  return by_stamp >= 0 ? by_stamp : by_monotonic;
}

}  // namespace trelvane
