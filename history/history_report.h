#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_store.h"
#include "history/measurement_reader.h"
#include "measure/calendar.h"

namespace trelvane {

// A stretch of consecutive measurements (never across a gap or a run's end).
struct MeasuredStretch {
  Instant first;  // its first measurement
  Instant last;   // and its last
  // Its length: from the first measurement's minute to the last's, both counted, in real minutes
  // (across a change of the clocks too).
  std::int64_t minutes() const { return last.utc() - first.utc() + 1; }
};

// Minutes with no measurement between two measurements of the same run, or of two runs.
struct Gap {
  Instant before;  // the measurement before
  Instant after;   // and the one after
  std::int64_t missing_minutes() const { return after.utc() - before.utc() - 1; }
};

struct RunSummary {
  std::string key;
  Instant first;
  Instant last;
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
  std::vector<MeasuredStretch> outages;   // loss 100
  std::vector<MeasuredStretch> episodes;  // loss at or above the threshold
  std::vector<Gap> gaps;
  Instant first;
  Instant last;
  // Answered measurements per response time up to kMaxCountedMs; slower ones in `slow_counts`.
  std::vector<std::int64_t> response_counts;
  std::vector<std::pair<int, std::int64_t>> slow_counts;  // response time, count; sorted
  int max_response_ms = -1;

  static constexpr int kMaxCountedMs = 4096;
  // The response time of rank ceil(p/100 × n) among the n answered measurements, smallest first
  // (the nearest rank: a time that was measured, never interpolated); nothing without any.
  std::optional<int> ResponsePercentile(int percent) const;
};

// The figures every format writes, as text: "" for a time when nothing was answered.
struct ReportFigures {
  explicit ReportFigures(const Report& report);
  int median = -1;  // -1: no answered minute
  int p95 = -1;
  int max = -1;
  std::string availability;
  std::string clean;
  std::string mean_loss;
};
inline std::string MsText(int ms) { return ms >= 0 ? std::to_string(ms) : std::string(); }

// A stretch as the writers show it: its two ends and its length in minutes (measured minutes for
// an outage or an episode, missing ones between the two measurements of a gap).
struct StretchRow {
  Instant first;
  Instant last;
  std::int64_t minutes = 0;
};
std::vector<StretchRow> RowsOf(const std::vector<MeasuredStretch>& stretches);
std::vector<StretchRow> RowsOf(const std::vector<Gap>& gaps);

// Whole percentages to two decimals, rounded down, as "99.52".
std::string HundredthsOf(std::int64_t part, std::int64_t whole);

// Reads the history and makes the report of the period. False when the file cannot be read.
bool BuildReport(const std::string& path, const ReportOptions& options, Report& report,
                 FileError& error);

enum class ReportFormat { kText, kCsv, kJson };
// Writes the report; every format carries the same figures.
void WriteReport(const Report& report, const ReportOptions& options, const std::string& path,
                 ReportFormat format, std::FILE* out);
// One writer per format.
void WriteTextReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out);
void WriteCsvReport(const Report& report, std::FILE* out);
void WriteJsonReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out);

// Writes one row per measurement of the period: run key, ISO date-time with its UTC offset, loss
// percent, response time in ms (empty, or null, when nothing was answered), answered requests out
// of 24. CSV with a heading row, or JSON lines (kJson: one object a line). Streams: memory does
// not grow with the file. False when the file cannot be read; `rows` (if given) counts the rows.
bool ExportMeasurements(const std::string& path, const ReportOptions& options, ReportFormat format,
                        std::FILE* out, FileError& error, std::size_t* rows = nullptr);

}  // namespace trelvane
