// The time-zone rules of the C library on POSIX systems: tm_gmtoff gives the offset.

#include <ctime>

#include "measure/time_zone.h"

namespace trelvane {

void ReadZoneRules() { tzset(); }

int UtcOffsetAt(std::int64_t utc_minute) {
  const auto seconds = static_cast<std::time_t>(utc_minute * 60);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

}  // namespace trelvane
