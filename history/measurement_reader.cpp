#include "history/measurement_reader.h"

#include <cstring>

#include "measure/measurement.h"

namespace trelvane {
namespace {

// Two decimal digits at `text`, or -1.
int TwoDigits(const char* text) {
  if (text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

}  // namespace

std::optional<StoredMeasurement> ReadMeasurementLine(std::string_view line) {
  MeasurementLineReader reader;
  return reader.Read(line);
}

std::optional<StoredMeasurement> MeasurementLineReader::Read(std::string_view line) {
  // One pass: the stamp up to the first blank, then two runs of digits, each ended by a blank or
  // the end of the line. Reports read millions of lines; this is their hot path.
  const char* p = line.data();
  const char* const end = p + line.size();
  // The stamp is 16 characters as the program writes it: look there first.
  const auto* blank = line.size() > 16 && p[16] == ' '
                          ? p + 16
                          : static_cast<const char*>(std::memchr(p, ' ', line.size()));
  if (blank == nullptr || blank - p < 15) return std::nullopt;
  const auto stamp_size = static_cast<std::size_t>(blank - p);
  const StampParts stamp = ReadStamp(std::string_view(p, stamp_size));
  const int hour = TwoDigits(stamp.time.data());
  const int minute = TwoDigits(stamp.time.data() + 3);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
  // Most lines share their date with the line before.
  if (stamp_size < 10 || std::memcmp(stamp.date.data(), date_, 10) != 0 || !date_valid_) {
    std::memcpy(date_, stamp.date.data(), 10);
    const int day = TwoDigits(p);
    const int month = TwoDigits(p + 3);
    const int century = TwoDigits(p + 6);
    const int year_in = TwoDigits(p + 8);
    date_valid_ = day >= 1 && month >= 1 && month <= 12 && century >= 0 && year_in >= 0 &&
                  century * 100 + year_in >= 1 &&
                  day <= DaysInMonth(century * 100 + year_in, month);
    if (date_valid_)
      day_minute_ = MinuteIndex(CalendarDate{century * 100 + year_in, month, day}, 0, 0);
  }
  if (!date_valid_) return std::nullopt;
  auto number = [end](const char*& at, int max_digits) -> int {
    int value = 0;
    int digits = 0;
    while (at < end && *at != ' ') {
      if (*at < '0' || *at > '9' || ++digits > max_digits) return -1;
      value = value * 10 + (*at++ - '0');
    }
    return digits > 0 ? value : -1;
  };
  const char* at = blank + 1;
  const int loss = number(at, 3);
  if (loss < 0 || loss > 100 || at == end) return std::nullopt;
  ++at;
  const int response = number(at, 9);
  if (response < 0) return std::nullopt;
  return StoredMeasurement{day_minute_ + std::int64_t{hour} * 60 + minute, loss, response, {}};
}

}  // namespace trelvane
