#include "measure/clock.h"

#include <ctime>

namespace trelvane {
namespace {

// A number with at least `width` digits, padded with leading zeros.
std::string Padded(int value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

}  // namespace

LocalTime SystemClock::Now() const {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &now);
#else
  localtime_r(&now, &parts);
#endif
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string FormatDate(const LocalTime& t) {
  return Padded(t.day, 2) + "/" + Padded(t.month, 2) + "/" + Padded(t.year, 4);
}

std::string FormatTime(const LocalTime& t) { return FormatMinute(t) + ":" + Padded(t.second, 2); }

std::string FormatMinute(const LocalTime& t) {
  return Padded(t.hour, 2) + ":" + Padded(t.minute, 2);
}

std::string FormatStamp(const LocalTime& t) { return FormatDate(t) + "-" + FormatMinute(t); }

}  // namespace trelvane
