#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_store.h"
#include "measure/calendar.h"

namespace trelvane {

// One measurement line of the history taken by position: the stamp's first 10 characters are the
// date (day, month, year), its last 5 the time (hours, minutes), whatever the separators; the loss
// a whole percent from 0 to 100 and the response time whole milliseconds. Nothing for any line
// that does not read so (such lines are passed over).
struct StoredMeasurement {
  std::int64_t minute = 0;
  int loss = 0;
  int response_ms = 0;
};
std::optional<StoredMeasurement> ReadMeasurementLine(std::string_view line);

// The same, for many lines in a row: it remembers the last date it read.
class MeasurementLineReader {
 public:
  std::optional<StoredMeasurement> Read(std::string_view line);

 private:
  char date_[10] = {};
  bool date_valid_ = false;
  std::int64_t day_minute_ = 0;
};

// The requests of a burst that were answered, from its loss: the one count of lost requests out
// of 24 that gives that loss once rounded down; nothing for a loss no burst can give.
std::optional<int> AnsweredOf(int loss_percent);

struct ReportOptions {
  std::optional<CalendarDate> since;  // inclusive
  std::optional<CalendarDate> until;  // inclusive
  std::optional<std::string> run;     // a run key: that run only
  int loss_threshold = 25;            // a loss episode: loss of at least this, in percent
  // The reader's buffer and longest line kept (the tests make them small).
  std::size_t block_bytes = std::size_t{1} << 20;
  std::size_t max_line_bytes = 4096;
};

// A stretch of consecutive measurements (never across a gap or a run's end).
struct Stretch {
  std::int64_t first = 0;  // minute index of its first measurement
  std::int64_t last = 0;   // and of its last
  // Its length: from the first measurement's minute to the last's, both counted.
  std::int64_t minutes() const { return last - first + 1; }
};

struct RunSummary {
  std::string key;
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t measured = 0;  // measurements in the period
};

// Everything a report says; built in one pass over the file, in memory that does not grow with
// the number of measurements (response times are counted per millisecond value).
struct Report {
  std::vector<RunSummary> runs;  // in file order
  std::int64_t measured = 0;
  std::int64_t available = 0;  // loss below 100: at least one request answered
  std::int64_t clean = 0;      // loss 0
  std::int64_t loss_sum = 0;
  std::vector<Stretch> outages;   // loss 100
  std::vector<Stretch> episodes;  // loss at or above the threshold
  std::vector<Stretch> gaps;      // first: the measurement before, last: the one after
  std::int64_t first = 0;
  std::int64_t last = 0;
  // Answered measurements per response time; above kMaxCountedMs in the last slot's map.
  std::vector<std::int64_t> response_counts;
  std::vector<std::pair<int, std::int64_t>> slow_counts;  // response time, count; sorted
  int max_response_ms = -1;

  static constexpr int kMaxCountedMs = 4096;
  // The response time of rank ceil(p/100 × n) among the n answered measurements, smallest first
  // (the nearest rank: a time that was measured, never interpolated); nothing without any.
  std::optional<int> ResponsePercentile(int percent) const;
  std::int64_t answered() const;
};

// Whole percentages to two decimals, rounded down, as "99.52".
std::string HundredthsOf(std::int64_t part, std::int64_t whole);

// Reads the history and makes the report of the period. False when the file cannot be read.
bool BuildReport(const std::string& path, const ReportOptions& options, Report& report,
                 FileError& error);

enum class ReportFormat { kText, kCsv, kJson };
// Writes the report; every format carries the same figures.
void WriteReport(const Report& report, const ReportOptions& options, const std::string& path,
                 ReportFormat format, std::FILE* out);

// Writes one CSV row per measurement of the period: run key, ISO date-time, loss percent, response
// time in ms (empty when nothing was answered), answered requests out of 24. Streams: memory does
// not grow with the file. False when the file cannot be read.
bool ExportMeasurements(const std::string& path, const ReportOptions& options, std::FILE* out,
                        FileError& error);

}  // namespace trelvane
