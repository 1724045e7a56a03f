#pragma once

#include <string>

namespace trelvane {

// A local date and time, as the clock on the wall shows it.
struct LocalTime {
  int year = 2000;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;   // 0 to 23
  int minute = 0;
  int second = 0;

  bool operator==(const LocalTime&) const = default;
};

// The source of local time. Only run control and the command-line burst hold one; pure code takes
// the time as an argument.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The local clock of the machine.
class SystemClock final : public Clock {
 public:
  LocalTime Now() const override;
};

std::string FormatDate(const LocalTime& t);    // "dd/mm/yyyy"
std::string FormatTime(const LocalTime& t);    // "hh:mm:ss"
std::string FormatMinute(const LocalTime& t);  // "hh:mm"
// The time stamp of a measurement: "dd/mm/yyyy-hh:mm", 16 characters.
std::string FormatStamp(const LocalTime& t);

}  // namespace trelvane
