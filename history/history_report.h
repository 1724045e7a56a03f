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
#include "history/trace_file.h"
#include "measure/calendar.h"

namespace trelvane {

// A stretch of consecutive measurements (never across a gap or a run's end).
struct MeasuredStretch {
  Instant first;        // its first measurement
  Instant last;         // and its last
  std::size_t run = 0;  // the run it belongs to: its place in Report::runs
  // Of an outage: the trace taken during it, its place in Report::traces (AttachTraces).
  std::optional<std::size_t> trace;
  // Its length: from the first measurement's minute to the last's, both counted, in real minutes
  // (across a change of the clocks too).
  std::int64_t minutes() const { return last.utc() - first.utc() + 1; }
};

// Minutes with no measurement between two measurements of the same run, or of two runs.
struct Gap {
  Instant before;       // the measurement before
  Instant after;        // and the one after
  std::size_t run = 0;  // the run both belong to
  std::int64_t missing_minutes() const { return after.utc() - before.utc() - 1; }
};

// Response times counted per millisecond value: a run's or a day's few dozen values, however many
// measurements. The values near the first ones met are counted in a window of consecutive
// values (one add is an increment); the few far from them, per value met.
class ResponseCounts {
 public:
  void Add(int ms) {
    ++total_;
    const auto at = static_cast<std::uint64_t>(static_cast<std::int64_t>(ms) - base_);
    if (at < window_.size()) {
      ++window_[at];
    } else {
      AddOutside(ms);
    }
  }
  // The nearest rank, as Report::ResponsePercentile; nothing without any.
  std::optional<int> Percentile(int percent) const;
  std::optional<int> Max() const;
  // Calls `f(ms, count)` for each time counted at least once, in no particular order.
  template <typename F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; i < window_.size(); ++i) {
      if (window_[i] != 0) f(static_cast<int>(base_ + static_cast<std::int64_t>(i)), window_[i]);
    }
    for (const auto& [ms, count] : outside_) f(ms, count);
  }

  static constexpr std::size_t kWindow = 64;  // the widest the window grows

 private:
  void AddOutside(int ms);

  std::vector<std::int64_t> window_;  // counts of base_, base_ + 1, ...
  std::int64_t base_ = 0;
  std::vector<std::pair<int, std::int64_t>> outside_;  // response time, count; sorted
  std::int64_t total_ = 0;
};

// The figures of a run or a day.
struct Tally {
  std::int64_t measured = 0;
  std::int64_t available = 0;       // loss below 100
  std::int64_t clean = 0;           // loss 0
  std::int64_t loss_sum = 0;        // of the loss percentages
  std::int64_t outage_minutes = 0;  // loss 100
  ResponseCounts responses;         // of the available ones
  void Add(const StoredMeasurement& m) {
    ++measured;
    loss_sum += m.loss;
    clean += m.loss == 0;
    outage_minutes += m.loss == 100;
    if (m.loss < 100) {
      ++available;
      responses.Add(m.response_ms);
    }
  }
};

struct RunSummary {
  std::string key;
  std::string host;  // as the file names it (Windows-1252); empty when it does not
  Instant first;
  Instant last;
  Tally tally;  // its measurements in the period
};

// One local calendar day of the period (the day of the stamps).
struct DaySummary {
  CalendarDate date;
  Tally tally;
};

// Everything a report says; built in one pass over the file, in memory that does not grow with
// the number of measurements (response times are counted per millisecond value).
struct Report {
  std::vector<RunSummary> runs;  // in file order
  std::vector<DaySummary> days;  // in calendar order
  std::int64_t measured = 0;
  std::int64_t available = 0;  // loss below 100: at least one request answered
  std::int64_t clean = 0;      // loss 0
  std::int64_t loss_sum = 0;
  std::vector<MeasuredStretch> outages;   // loss 100
  std::vector<StoredTrace> traces;        // taken during the outages (AttachTraces)
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
  explicit ReportFigures(const Tally& tally);
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
  std::size_t run = 0;  // its place in Report::runs
  // Of a merged loss episode: the minutes of loss in it (its length counts the minutes between).
  std::int64_t loss_minutes = 0;
  std::optional<std::size_t> trace;  // of an outage: its trace, in Report::traces
};
// "dernier saut joignable : 3 — 10.200.1.2" of an outage row whose trace found a hop that answered;
// "" otherwise.
std::string LastHopText(const Report& report, const StretchRow& row);
std::vector<StretchRow> RowsOf(const std::vector<MeasuredStretch>& stretches);
std::vector<StretchRow> RowsOf(const std::vector<Gap>& gaps);

// Loss episodes of a run with fewer than `merge_minutes` minutes without loss between them, and
// no gap, are one episode: from the first's start to the last's end.
std::vector<StretchRow> MergedEpisodes(const Report& report, int merge_minutes);
// The longest outage (the first of equals); nothing without one.
std::optional<StretchRow> LongestOutage(const Report& report);
// The total of the outages' minutes.
std::int64_t OutageMinutes(const Report& report);
// The day of least availability; of equals, the one with most outage minutes, then the highest
// mean loss, then the first. Nothing without a measured day.
const DaySummary* WorstDay(const Report& report);

// Whole percentages to two decimals, rounded down, as "99.52".
std::string HundredthsOf(std::int64_t part, std::int64_t whole);

// Gives each outage of the report the first trace of the traces file beside `history_path` that
// its run took during it (its stamp from the outage's first minute to its last). A traces file
// that cannot be read gives none.
void AttachTraces(Report& report, const std::string& history_path);

// Reads the history and makes the report of the period. False when the file cannot be read.
bool BuildReport(const std::string& path, const ReportOptions& options, Report& report,
                 FileError& error);

// A report of the runs of one host in one file.
struct HostReport {
  std::string file;
  std::string host;  // as the file names it; empty for runs the file names no host for
  Report report;
};
// One report per host the file's runs measured, in the order they first come; false when the file
// cannot be read.
bool BuildHostReports(const std::string& path, const ReportOptions& options,
                      std::vector<HostReport>& reports, FileError& error);
// The host as the reports show it: UTF-8, "hôte inconnu" when the file names none.
std::string HostText(const std::string& host);
// "1 minute", "3 minutes".
std::string MinutesText(std::int64_t minutes);
// The summary as label and value, as the HTML and Markdown reports show it.
std::vector<std::pair<std::string, std::string>> SummaryRows(const Report& report);
// The hosts of a report's runs, each once, in the order they come ("hôte inconnu" without runs).
std::string HostsOf(const Report& report);

enum class ReportFormat { kText, kCsv, kJson, kHtml, kMarkdown };
// Writes the report; every format carries the same figures.
void WriteReport(const Report& report, const ReportOptions& options, const std::string& path,
                 ReportFormat format, std::FILE* out);
// Writes several reports side by side (hosts, files): the summaries and the days in columns,
// then each one's outages; CSV and JSON hold every report whole.
void WriteReports(const std::vector<HostReport>& reports, const ReportOptions& options,
                  ReportFormat format, std::FILE* out);
// One writer per format.
void WriteTextReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out);
void WriteCsvReport(const Report& report, const ReportOptions& options, const std::string& path,
                    bool heading, std::FILE* out);
void WriteJsonReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out);
// One self-contained page (inline CSS and SVG, no script, nothing loaded from elsewhere): each
// report's summary, a bar per day, a strip per day of every minute's loss and response time (the
// file is read again for them), and its outages.
void WriteHtmlReport(const std::vector<HostReport>& reports, const ReportOptions& options,
                     std::FILE* out);
// Each report's summary, days and outages as GitHub-flavoured Markdown tables.
void WriteMarkdownReport(const std::vector<HostReport>& reports, std::FILE* out);
// The JSON object of one report, without a line end after it.
void WriteJsonObject(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out);

// Writes one row per measurement of the period: run key, ISO date-time with its UTC offset, loss
// percent, response time in ms (empty, or null, when nothing was answered), answered requests out
// of 24. CSV with a heading row, or JSON lines (kJson: one object a line). Streams: memory does
// not grow with the file. False when the file cannot be read; `rows` (if given) counts the rows.
bool ExportMeasurements(const std::string& path, const ReportOptions& options, ReportFormat format,
                        std::FILE* out, FileError& error, std::size_t* rows = nullptr);

}  // namespace trelvane
