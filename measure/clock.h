#pragma once

#include <string>
#include <string_view>

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

// The date and time separators of the user's regional settings: one character each, so that every
// field keeps its place ("dd/mm/yyyy", "hh:mm:ss").
struct Separators {
  char date = '/';
  char time = ':';
  bool operator==(const Separators&) const = default;
};

// The separators that the date and time formats of a locale use (strftime patterns such as
// "%d.%m.%Y" and "%H:%M:%S"). A pattern that gives no single usable character (none, a letter, a
// digit, a blank, '%', or two different ones) leaves the default of that field.
Separators SeparatorsOfFormats(std::string_view date_format, std::string_view time_format);

// The source of local time. Only run control and the command-line burst hold one; pure code takes
// the time as an argument.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
  // The separators its dates and times are written with.
  virtual Separators separators() const { return Separators{}; }
};

// The local clock of the machine, written with the separators of the LC_TIME locale as it stands
// when the clock is made (the program sets the locale from the environment first).
class SystemClock final : public Clock {
 public:
  SystemClock();
  LocalTime Now() const override;
  Separators separators() const override { return separators_; }

 private:
  Separators separators_;
};

std::string FormatDate(const LocalTime& t, char separator = '/');    // "dd/mm/yyyy"
std::string FormatTime(const LocalTime& t, char separator = ':');    // "hh:mm:ss"
std::string FormatMinute(const LocalTime& t, char separator = ':');  // "hh:mm"
// The time stamp of a measurement: "dd/mm/yyyy-hh:mm", 16 characters.
std::string FormatStamp(const LocalTime& t, Separators separators = {});

}  // namespace trelvane
