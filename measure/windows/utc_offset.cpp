// The time-zone rules of the C runtime on Windows, which has no tm_gmtoff: the local time read
// back as if it were UTC, less the moment itself.

#include <ctime>

#include "measure/time_zone.h"

namespace trelvane {

void ReadZoneRules() { _tzset(); }

int UtcOffsetAt(std::int64_t utc_minute) {
  const auto seconds = static_cast<std::time_t>(utc_minute * 60);
  std::tm local{};
  if (localtime_s(&local, &seconds) != 0) return 0;
  return static_cast<int>((_mkgmtime(&local) - seconds) / 60);
}

}  // namespace trelvane
