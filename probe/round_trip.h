#pragma once

#include <cstdint>
#include <optional>

namespace trelvane {

// The two clocks read together: the wall clock (CLOCK_REALTIME, which the kernel's receive stamps
// use) and the monotonic clock, in nanoseconds.
struct ClockReading {
  std::int64_t real_ns = 0;
  std::int64_t monotonic_ns = 0;
};

// A step of the wall clock larger than this between send and receive makes the kernel's stamp
// useless for that request.
inline constexpr std::int64_t kClockStepNs = 1'000'000;

// The round-trip time of a request sent at `sent`, answered with the kernel's receive stamp
// `received_real_ns` (nothing when the kernel gave none), and handled at `now`:
//  1. the kernel's stamp against the wall-clock send time, which is exact under load;
//  2. the monotonic clock instead when there is no stamp, when the difference is negative, or when
//     the wall clock was stepped meanwhile (an NTP step, a manual change): the offset between the
//     two clocks moved by more than kClockStepNs between send and now.
std::int64_t RoundTripNs(ClockReading sent, std::optional<std::int64_t> received_real_ns,
                         ClockReading now);

}  // namespace trelvane
