#pragma once

#include <string>
#include <string_view>

namespace trelvane {

// One burst's result, kept as the texts the series and the history file hold.
struct Measurement {
  std::string stamp;     // "dd/mm/yyyy-hh:mm"
  std::string loss;      // whole percent, "0" to "100"
  std::string response;  // whole milliseconds, "2000" when nothing was answered

  bool operator==(const Measurement&) const = default;
};

// A stamp read by position, whatever the separators of the regional settings it was written
// with: its first 10 characters are the date (dd/mm/yyyy), its last 5 the time of day (hh:mm).
// A shorter stamp gives what it has.
struct StampParts {
  std::string_view date;
  std::string_view time;
};
inline StampParts ReadStamp(std::string_view stamp) {
  return StampParts{stamp.substr(0, 10), stamp.substr(stamp.size() > 5 ? stamp.size() - 5 : 0)};
}

// The history file's measurement line (without its line end): stamp, loss and response time
// separated by single blanks, e.g. "06/12/2026-14:05 4 23".
std::string MeasurementLine(const Measurement& measurement);

}  // namespace trelvane
