#include "measure/calendar.h"

#include <cstdio>

namespace trelvane {
namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int TwoDigits(const char* text) {
  if (text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

std::optional<int> FourDigits(const char* text) {
  const int high = TwoDigits(text);
  const int low = TwoDigits(text + 2);
  if (high < 0 || low < 0) return std::nullopt;
  return high * 100 + low;
}

}  // namespace

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

CalendarDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const auto year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
  return CalendarDate{year, month, day};
}

std::optional<CalendarDate> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const std::optional<int> year = FourDigits(text.data());
  const int month = TwoDigits(text.data() + 5);
  const int day = TwoDigits(text.data() + 8);
  if (!year || *year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(*year, month)) {
    return std::nullopt;
  }
  return CalendarDate{*year, month, day};
}

std::int64_t MinuteIndex(const CalendarDate& date, int hour, int minute) {
  return DaysFromCivil(date.year, date.month, date.day) * 1440 + std::int64_t{hour} * 60 + minute;
}

std::string IsoMinute(std::int64_t minute) {
  const std::int64_t days = minute >= 0 ? minute / 1440 : (minute - 1439) / 1440;
  const auto of_day = static_cast<int>(minute - days * 1440);
  char text[64];
  const CalendarDate date = CivilFromDays(days);
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d", date.year, date.month, date.day,
                of_day / 60, of_day % 60);
  return text;
}

std::string IsoDate(const CalendarDate& date) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

}  // namespace trelvane
