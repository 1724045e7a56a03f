#pragma once

#include <string>

namespace trelvane {

// One burst's result, kept as the texts the series and the history file hold.
struct Measurement {
  std::string stamp;     // "dd/mm/yyyy-hh:mm"
  std::string loss;      // whole percent, "0" to "100"
  std::string response;  // whole milliseconds, "2000" when nothing was answered

  bool operator==(const Measurement&) const = default;
};

// The history file's measurement line (without its line end): stamp, loss and response time
// separated by single blanks, e.g. "06/12/2026-14:05 4 23".
std::string MeasurementLine(const Measurement& measurement);

}  // namespace trelvane
