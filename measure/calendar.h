#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvane {

// A date of the calendar (proleptic Gregorian), as --since and --until take it ("2026-12-06").
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const CalendarDate&) const = default;
};

int DaysInMonth(int year, int month);
CalendarDate CivilFromDays(std::int64_t days);  // days since 1970-01-01

// "yyyy-mm-dd" with a real date, or nothing.
std::optional<CalendarDate> ParseIsoDate(std::string_view text);
std::string IsoDate(const CalendarDate& date);

// Minutes since 1970-01-01 00:00 of a date and time of the calendar (no time zone: the stamps are
// local times, and only their differences count), and back to "yyyy-mm-ddThh:mm".
std::int64_t MinuteIndex(const CalendarDate& date, int hour, int minute);
std::string IsoMinute(std::int64_t minute);

}  // namespace trelvane
