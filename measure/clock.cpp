#include "measure/clock.h"

#include <ctime>
#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#endif

namespace trelvane {
namespace {

// A number with at least `width` digits, padded with leading zeros.
std::string ZeroPadded(int value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The one separator character of a strftime pattern, or `fallback`.
char SeparatorOf(std::string_view format, char fallback) {
  char found = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%') {
      // Flags, a width and the E or O modifier may stand before the conversion's letter.
      ++i;
      while (i < format.size() &&
             std::string_view("-_0^#EO123456789").find(format[i]) != std::string_view::npos) {
        ++i;
      }
      continue;
    }
    const bool usable = c > ' ' && c < 0x7F && c != '%' && !(c >= '0' && c <= '9') &&
                        !(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z');
    if (!usable || (found != 0 && found != c)) return fallback;
    found = c;
  }
  return found != 0 ? found : fallback;
}

}  // namespace

Separators SeparatorsOfFormats(std::string_view date_format, std::string_view time_format) {
  const Separators fallback;
  return Separators{SeparatorOf(date_format, fallback.date),
                    SeparatorOf(time_format, fallback.time)};
}

SystemClock::SystemClock() {
#ifdef _WIN32
  char date[8] = {};
  char time[8] = {};
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, date, sizeof(date));
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, time, sizeof(time));
  separators_ =
      SeparatorsOfFormats(std::string("%d") + date + "%m", std::string("%H") + time + "%M");
#else
  separators_ = SeparatorsOfFormats(nl_langinfo(D_FMT), nl_langinfo(T_FMT));
#endif
}

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

std::string FormatDate(const LocalTime& t, char separator) {
  return ZeroPadded(t.day, 2) + separator + ZeroPadded(t.month, 2) + separator +
         ZeroPadded(t.year, 4);
}

std::string FormatTime(const LocalTime& t, char separator) {
  return FormatMinute(t, separator) + separator + ZeroPadded(t.second, 2);
}

std::string FormatMinute(const LocalTime& t, char separator) {
  return ZeroPadded(t.hour, 2) + separator + ZeroPadded(t.minute, 2);
}

std::string FormatStamp(const LocalTime& t, Separators separators) {
  return FormatDate(t, separators.date) + "-" + FormatMinute(t, separators.time);
}

}  // namespace trelvane
