#pragma once

#include <cerrno>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "history/history_format.h"
#include "history/history_store.h"
#include "history/line_reader.h"
#include "measure/calendar.h"
#include "measure/time_zone.h"

namespace trelvane {

// One measurement line of the history taken by position: the stamp's first 10 characters are the
// date (day, month, year), its last 5 the time (hours, minutes), whatever the separators; the loss
// a whole percent from 0 to 100 and the response time whole milliseconds. Nothing for any line
// that does not read so (such lines are passed over).
struct StoredMeasurement {
  std::int64_t minute = 0;  // the stamp's local wall-clock minute (MinuteIndex)
  int loss = 0;
  int response_ms = 0;
  // The moment it was taken: the local minute with the UTC offset in force then, as the machine's
  // time-zone rules give it (ForEachMeasurement sets it).
  Instant at;
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

// What a report or an export reads of the history.
struct ReportOptions {
  std::optional<CalendarDate> since;  // inclusive
  std::optional<CalendarDate> until;  // inclusive
  std::optional<std::string> run;     // a run key: that run only
  int loss_threshold = 25;            // a loss episode: loss of at least this, in percent
  int merge_minutes = 5;              // episodes closer than this are one (0: never)
  bool details = false;               // the text report lists every episode and gap
  // The reader's buffer and longest line kept (the tests make them small).
  std::size_t block_bytes = std::size_t{1} << 20;
  std::size_t max_line_bytes = 4096;
};

// The history's measurements of the period, run by run, in file order: `on_run(key, host)` when a
// run begins (`host` as the host line before its header names it, in the file's encoding; empty
// without one), `on_measurement(measurement)` for each of its measurements. Lines that are not
// measurements are passed over as the replay passes them.
// False when the file cannot be read.
template <typename OnRun, typename OnMeasurement>
bool ForEachMeasurement(const std::string& path, const ReportOptions& options, FileError& error,
                        OnRun&& on_run, OnMeasurement&& on_measurement) {
  std::optional<StoredFile> file = StoredFile::OpenForReading(path, error);
  if (!file) return false;
  const std::int64_t since = options.since ? MinuteIndex(*options.since, 0, 0) : INT64_MIN;
  const std::int64_t until = options.until ? MinuteIndex(*options.until, 23, 59) : INT64_MAX;
  LineReader reader(*file, 0, options.block_bytes, options.max_line_bytes);
  StoredLine line;
  MeasurementLineReader measurements;
  ZoneRules zone;
  RunClock clock(zone);
  // The host line read last, and where the line after it begins: the host of a header there.
  std::string host;
  std::uint64_t host_until = UINT64_MAX;
  auto note_host = [&] {
    if (const std::optional<std::string_view> named = HostOfLine(line.text)) {
      host = std::string(*named);
      host_until = reader.offset();
    }
  };
  bool have_line = false;  // `line` holds a header not yet looked at
  std::uint64_t line_offset = 0;
  for (;;) {
    if (!have_line) {
      if (!reader.SkipToMarkedLine()) break;
      line_offset = reader.offset();
      if (!reader.Next(line)) break;
      if (!IsRunHeader(line.text)) {
        note_host();
        continue;
      }
    }
    have_line = false;
    if (options.run && line.tail != *options.run) continue;
    const std::string key(line.tail);
    const std::string run_host = line_offset == host_until ? host : std::string();
    bool announced = false;
    clock.Reset();
    for (;;) {
      line_offset = reader.offset();
      if (!reader.Next(line)) break;
      if (EndsARun(line.text)) {
        have_line = IsRunHeader(line.text);  // a header right after the run is looked at
        if (!have_line) note_host();
        break;
      }
      if (!line.whole) continue;
      std::optional<StoredMeasurement> m = measurements.Read(line.text);
      if (!m) continue;
      // Every measurement of the run counts for the order of a repeated hour, in the period or not.
      m->at = clock.Resolve(m->minute);
      if (m->minute < since || m->minute > until) continue;
      if (!announced) {
        on_run(key, run_host);
        announced = true;
      }
      on_measurement(*m);
    }
  }
  if (reader.failed()) {
    error = FileError{FileError::Kind::kSystem, EIO};
    return false;
  }
  return true;
}

}  // namespace trelvane
