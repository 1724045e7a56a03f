#include "history/history_report.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "history/history_file.h"
#include "history/line_reader.h"
#include "measure/calendar.h"

namespace trelvane {
namespace {

constexpr int kRequestsPerBurst = 24;
// Consecutive measurements further apart than this leave a gap: nothing was measured between.
constexpr std::int64_t kGapMinutes = 2;

// Two decimal digits at `text`, or -1.
int TwoDigits(const char* text) {
  if (text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

bool EndsARun(std::string_view line) {
  // Most lines begin with a digit: one look settles them.
  return line.empty() ||
         ((line[0] == '*' || line[0] == '+') && (IsRunHeader(line) || IsStartupMarker(line)));
}

// The history's measurements of the period, run by run, in file order: `on_run(key)` when a run
// begins, `on_measurement(measurement)` for each of its measurements. Lines that are not
// measurements are passed over as the replay passes them.
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
  bool have_line = false;  // `line` holds a header not yet looked at
  for (;;) {
    if (!have_line && (!reader.SkipToRunHeader() || !reader.Next(line))) break;
    have_line = false;
    if (options.run && line.tail != *options.run) continue;
    const std::string key(line.tail);
    bool announced = false;
    while (reader.Next(line)) {
      if (EndsARun(line.text)) {
        have_line = IsRunHeader(line.text);  // a header right after the run is looked at
        break;
      }
      if (!line.whole) continue;
      const std::optional<StoredMeasurement> m = measurements.Read(line.text);
      if (!m || m->minute < since || m->minute > until) continue;
      if (!announced) {
        on_run(key);
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

// Text of the calendar's Windows-1252 file bytes as UTF-8 (bytes above 0x7F taken as Latin-1),
// unless it is UTF-8 already.
std::string Utf8Of(std::string_view text) {
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(text);
  std::size_t i = 0;
  bool valid = true;
  while (valid && i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80         ? 1
                               : (c >> 5) == 6  ? 2
                               : (c >> 4) == 14 ? 3
                               : (c >> 3) == 30 ? 4
                                                : 0;
    valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
    }
    i += length;
  }
  if (valid) return std::string(text);
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

// A CSV field (RFC 4180): quoted when it holds a comma, a quote or a line end.
std::string CsvField(std::string_view text) {
  const std::string utf8 = Utf8Of(text);
  if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// `text` followed by blanks up to `width` characters (not bytes: the headings are French).
std::string Padded(std::string_view text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) >> 6) != 2 ? 1 : 0;
  std::string out(text);
  if (characters < width) out.append(width - characters, ' ');
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : Utf8Of(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The accumulation of a report, one measurement at a time.
class ReportBuilder {
 public:
  ReportBuilder(Report& report, int loss_threshold)
      : report_(report), loss_threshold_(loss_threshold) {
    report_.response_counts.assign(Report::kMaxCountedMs + 1, 0);
  }

  void BeginRun(const std::string& key) {
    CloseStretches();
    previous_.reset();
    report_.runs.push_back(RunSummary{key, 0, 0, 0});
    run_ = &report_.runs.back();
  }

  void Add(const StoredMeasurement& m) {
    RunSummary& run = *run_;
    if (run.measured == 0) run.first = m.minute;
    run.last = m.minute;
    ++run.measured;
    if (report_.measured == 0 || m.minute < report_.first) report_.first = m.minute;
    if (report_.measured == 0 || m.minute > report_.last) report_.last = m.minute;
    ++report_.measured;
    report_.loss_sum += m.loss;
    if (m.loss == 0) ++report_.clean;
    if (m.loss < 100) {
      ++report_.available;
      CountResponse(m.response_ms);
    }
    if (previous_ && m.minute - *previous_ > kGapMinutes) {
      report_.gaps.push_back(Stretch{*previous_, m.minute});
      CloseStretches();
    }
    previous_ = m.minute;
    Extend(outage_, m.loss == 100, m.minute, report_.outages);
    Extend(episode_, m.loss >= loss_threshold_, m.minute, report_.episodes);
  }

  void Finish() { CloseStretches(); }

 private:
  void CountResponse(int ms) {
    report_.max_response_ms = std::max(report_.max_response_ms, ms);
    if (ms <= Report::kMaxCountedMs) {
      ++report_.response_counts[static_cast<std::size_t>(ms)];
      return;
    }
    auto& slow = report_.slow_counts;
    auto at = std::lower_bound(slow.begin(), slow.end(), std::make_pair(ms, std::int64_t{0}));
    if (at != slow.end() && at->first == ms) {
      ++at->second;
    } else {
      slow.insert(at, {ms, 1});
    }
  }

  static void Extend(std::optional<Stretch>& open, bool in, std::int64_t minute,
                     std::vector<Stretch>& done) {
    if (in) {
      if (open) {
        open->last = minute;
      } else {
        open = Stretch{minute, minute};
      }
    } else if (open) {
      done.push_back(*open);
      open.reset();
    }
  }

  void CloseStretches() {
    if (outage_) report_.outages.push_back(*outage_);
    if (episode_) report_.episodes.push_back(*episode_);
    outage_.reset();
    episode_.reset();
  }

  Report& report_;
  RunSummary* run_ = nullptr;  // the run measurements go to
  int loss_threshold_;
  std::optional<std::int64_t> previous_;
  std::optional<Stretch> outage_;
  std::optional<Stretch> episode_;
};

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
  const std::size_t stamp_size = static_cast<std::size_t>(blank - p);
  const int hour = TwoDigits(blank - 5);
  const int minute = TwoDigits(blank - 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
  // Most lines share their date with the line before.
  if (stamp_size < 10 || std::memcmp(p, date_, 10) != 0 || !date_valid_) {
    std::memcpy(date_, p, 10);
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
  return StoredMeasurement{day_minute_ + hour * 60 + minute, loss, response};
}

std::optional<int> AnsweredOf(int loss_percent) {
  for (int lost = 0; lost <= kRequestsPerBurst; ++lost) {
    if (100 * lost / kRequestsPerBurst == loss_percent) return kRequestsPerBurst - lost;
  }
  return std::nullopt;
}

std::int64_t Report::answered() const { return available; }

std::optional<int> Report::ResponsePercentile(int percent) const {
  const std::int64_t n = answered();
  if (n == 0) return std::nullopt;
  const std::int64_t rank = std::max<std::int64_t>(1, (percent * n + 99) / 100);
  std::int64_t seen = 0;
  for (std::size_t ms = 0; ms < response_counts.size(); ++ms) {
    seen += response_counts[ms];
    if (seen >= rank) return static_cast<int>(ms);
  }
  for (const auto& [ms, count] : slow_counts) {
    seen += count;
    if (seen >= rank) return ms;
  }
  return max_response_ms;
}

std::string HundredthsOf(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return "0.00";
  const std::int64_t hundredths = part * 10000 / whole;
  char text[32];
  std::snprintf(text, sizeof(text), "%lld.%02lld", static_cast<long long>(hundredths / 100),
                static_cast<long long>(hundredths % 100));
  return text;
}

bool BuildReport(const std::string& path, const ReportOptions& options, Report& report,
                 FileError& error) {
  report = Report{};
  ReportBuilder builder(report, options.loss_threshold);
  const bool ok = ForEachMeasurement(
      path, options, error, [&](const std::string& key) { builder.BeginRun(key); },
      [&](const StoredMeasurement& m) { builder.Add(m); });
  builder.Finish();
  return ok;
}

void WriteReport(const Report& report, const ReportOptions& options, const std::string& path,
                 ReportFormat format, std::FILE* out) {
  // -1: no answered minute.
  const int median = report.ResponsePercentile(50).value_or(-1);
  const int p95 = report.ResponsePercentile(95).value_or(-1);
  const int max = median >= 0 ? report.max_response_ms : -1;
  const std::string availability = HundredthsOf(report.available, report.measured);
  const std::string clean = HundredthsOf(report.clean, report.measured);
  const std::string mean_loss = HundredthsOf(report.loss_sum, report.measured * 100);
  auto ms_text = [](int v) { return v >= 0 ? std::to_string(v) : std::string(); };
  const std::string since = options.since ? IsoDate(*options.since) : "";
  const std::string until = options.until ? IsoDate(*options.until) : "";

  if (format == ReportFormat::kJson) {
    auto null_or = [](const std::string& text, bool quoted) {
      if (text.empty()) return std::string("null");
      return quoted ? JsonString(text) : text;
    };
    auto stretches = [&](const std::vector<Stretch>& list, const char* first, const char* last,
                         const char* minutes, bool gap) {
      std::string text = "[";
      for (std::size_t i = 0; i < list.size(); ++i) {
        const Stretch& s = list[i];
        text += (i > 0 ? ",\n    {" : "\n    {");
        text += std::string("\"") + first + "\": \"" + IsoMinute(s.first) + "\", \"" + last +
                "\": \"" + IsoMinute(s.last) + "\", \"" + minutes +
                "\": " + std::to_string(gap ? s.last - s.first - 1 : s.minutes()) + "}";
      }
      return text + (list.empty() ? "]" : "\n  ]");
    };
    std::string text = "{\n  \"schema\": \"trelvane-report/1\",\n";
    text += "  \"file\": " + JsonString(path) + ",\n";
    text += "  \"since\": " + null_or(since, true) + ",\n  \"until\": " + null_or(until, true) +
            ",\n  \"run\": " + null_or(options.run.value_or(""), true) + ",\n";
    text += "  \"loss_threshold_percent\": " + std::to_string(options.loss_threshold) + ",\n";
    text += "  \"runs\": [";
    for (std::size_t i = 0; i < report.runs.size(); ++i) {
      const RunSummary& r = report.runs[i];
      text += (i > 0 ? ",\n    {" : "\n    {");
      text += "\"key\": " + JsonString(r.key) + ", \"first\": \"" + IsoMinute(r.first) +
              "\", \"last\": \"" + IsoMinute(r.last) +
              "\", \"minutes\": " + std::to_string(r.measured) + "}";
    }
    text += report.runs.empty() ? "],\n" : "\n  ],\n";
    text += "  \"total\": {\"first\": " +
            null_or(report.measured > 0 ? IsoMinute(report.first) : "", true) +
            ", \"last\": " + null_or(report.measured > 0 ? IsoMinute(report.last) : "", true) +
            ", \"minutes\": " + std::to_string(report.measured) + "},\n";
    text += "  \"availability_percent\": " + availability + ",\n";
    text += "  \"clean_percent\": " + clean + ",\n";
    text += "  \"mean_loss_percent\": " + mean_loss + ",\n";
    text += "  \"response_ms\": {\"median\": " + null_or(ms_text(median), false) +
            ", \"p95\": " + null_or(ms_text(p95), false) +
            ", \"max\": " + null_or(ms_text(max), false) + "},\n";
    text +=
        "  \"outages\": " + stretches(report.outages, "first", "last", "minutes", false) + ",\n";
    text +=
        "  \"loss_episodes\": " + stretches(report.episodes, "first", "last", "minutes", false) +
        ",\n";
    text += "  \"gaps\": " + stretches(report.gaps, "before", "after", "missing_minutes", true) +
            "\n}\n";
    std::fputs(text.c_str(), out);
    return;
  }

  if (format == ReportFormat::kCsv) {
    std::fputs("section,run,first,last,minutes,value\r\n", out);
    for (const RunSummary& r : report.runs) {
      std::fprintf(out, "run,%s,%s,%s,%lld,\r\n", CsvField(r.key).c_str(),
                   IsoMinute(r.first).c_str(), IsoMinute(r.last).c_str(),
                   static_cast<long long>(r.measured));
    }
    if (report.measured > 0) {
      std::fprintf(out, "total,,%s,%s,%lld,\r\n", IsoMinute(report.first).c_str(),
                   IsoMinute(report.last).c_str(), static_cast<long long>(report.measured));
    } else {
      std::fputs("total,,,,0,\r\n", out);
    }
    std::fprintf(out, "availability_percent,,,,,%s\r\n", availability.c_str());
    std::fprintf(out, "clean_percent,,,,,%s\r\n", clean.c_str());
    std::fprintf(out, "mean_loss_percent,,,,,%s\r\n", mean_loss.c_str());
    std::fprintf(out, "response_median_ms,,,,,%s\r\n", ms_text(median).c_str());
    std::fprintf(out, "response_p95_ms,,,,,%s\r\n", ms_text(p95).c_str());
    std::fprintf(out, "response_max_ms,,,,,%s\r\n", ms_text(max).c_str());
    auto rows = [&](const char* section, const std::vector<Stretch>& list, bool gap) {
      for (const Stretch& s : list) {
        std::fprintf(out, "%s,,%s,%s,%lld,\r\n", section, IsoMinute(s.first).c_str(),
                     IsoMinute(s.last).c_str(),
                     static_cast<long long>(gap ? s.last - s.first - 1 : s.minutes()));
      }
    };
    rows("outage", report.outages, false);
    rows("loss_episode", report.episodes, false);
    rows("gap", report.gaps, true);
    return;
  }

  std::fprintf(out, "Historique : %s\n", path.c_str());
  std::fprintf(out, "Période : %s – %s%s%s\n", since.empty() ? "début" : since.c_str(),
               until.empty() ? "fin" : until.c_str(), options.run ? ", run " : "",
               options.run ? Utf8Of(*options.run).c_str() : "");
  if (report.measured == 0) {
    std::fputs("Aucune mesure dans cette période.\n", out);
    return;
  }
  std::fputs("\nRuns\n", out);
  std::fprintf(out, "  %s  %s  %s  %8s\n", Padded("Début du run", 21).c_str(),
               Padded("Première mesure", 16).c_str(), Padded("Dernière mesure", 16).c_str(),
               "Minutes");
  for (const RunSummary& r : report.runs) {
    std::fprintf(out, "  %s  %-16s  %-16s  %8lld\n", Padded(Utf8Of(r.key), 21).c_str(),
                 IsoMinute(r.first).c_str(), IsoMinute(r.last).c_str(),
                 static_cast<long long>(r.measured));
  }
  std::fprintf(out, "  %-21s  %-16s  %-16s  %8lld\n", "Total", IsoMinute(report.first).c_str(),
               IsoMinute(report.last).c_str(), static_cast<long long>(report.measured));
  std::fputs("\n", out);
  auto figure = [out](const char* label, const std::string& value) {
    std::fprintf(out, "%s%s\n", Padded(label, 28).c_str(), value.c_str());
  };
  figure("Disponibilité :", availability + " % des minutes mesurées (au moins une réponse)");
  figure("Minutes sans perte :", clean + " %");
  figure("Perte moyenne :", mean_loss + " %");
  figure("Temps de réponse :", median >= 0 ? "médiane " + std::to_string(median) +
                                                 " ms, 95e centile " + std::to_string(p95) +
                                                 " ms, maximum " + std::to_string(max) + " ms"
                                           : std::string("aucune réponse"));
  auto table = [&](const std::string& title, const std::vector<Stretch>& list, const char* first,
                   const char* last, const char* minutes, bool gap) {
    std::fprintf(out, "\n%s : %zu\n", title.c_str(), list.size());
    if (list.empty()) return;
    std::fprintf(out, "  %s  %s  %8s\n", Padded(first, 16).c_str(), Padded(last, 16).c_str(),
                 minutes);
    for (const Stretch& s : list) {
      std::fprintf(out, "  %-16s  %-16s  %8lld\n", IsoMinute(s.first).c_str(),
                   IsoMinute(s.last).c_str(),
                   static_cast<long long>(gap ? s.last - s.first - 1 : s.minutes()));
    }
  };
  table("Coupures (perte 100 %)", report.outages, "Début", "Fin", "Minutes", false);
  table("Épisodes de perte (≥ " + std::to_string(options.loss_threshold) + " %)", report.episodes,
        "Début", "Fin", "Minutes", false);
  table("Trous (plus de 2 minutes sans mesure)", report.gaps, "Avant", "Après", "Manquent", true);
}

bool ExportMeasurements(const std::string& path, const ReportOptions& options, std::FILE* out,
                        FileError& error) {
  std::vector<char> buffer(std::size_t{64} << 10);
  std::size_t used = 0;
  auto flush = [&] {
    std::fwrite(buffer.data(), 1, used, out);
    used = 0;
  };
  auto put = [&](std::string_view text) {
    if (used + text.size() > buffer.size()) flush();
    if (text.size() > buffer.size()) {
      std::fwrite(text.data(), 1, text.size(), out);
      return;
    }
    std::memcpy(buffer.data() + used, text.data(), text.size());
    used += text.size();
  };
  put("run,datetime,loss_percent,response_ms,answered_of_24\r\n");
  std::string key_field;
  // The ISO text of the last minute written, kept from one row to the next: most rows are a minute
  // after the one before.
  std::int64_t day_cached = INT64_MIN;
  char date_text[64] = {};
  const bool ok = ForEachMeasurement(
      path, options, error, [&](const std::string& key) { key_field = CsvField(key) + ","; },
      [&](const StoredMeasurement& m) {
        const std::int64_t day = m.minute >= 0 ? m.minute / 1440 : (m.minute - 1439) / 1440;
        if (day != day_cached) {
          day_cached = day;
          const CalendarDate date = CivilFromDays(day);
          std::snprintf(date_text, sizeof(date_text), "%04d-%02d-%02dT", date.year, date.month,
                        date.day);
        }
        const auto of_day = static_cast<int>(m.minute - day * 1440);
        char row[96];
        char* p = row;
        std::memcpy(p, date_text, 11);
        p += 11;
        *p++ = static_cast<char>('0' + of_day / 600);
        *p++ = static_cast<char>('0' + of_day / 60 % 10);
        *p++ = ':';
        *p++ = static_cast<char>('0' + of_day % 60 / 10);
        *p++ = static_cast<char>('0' + of_day % 10);
        *p++ = ',';
        auto number = [&p](int value) {
          char digits[12];
          int n = 0;
          do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
          } while (value > 0);
          while (n > 0) *p++ = digits[--n];
        };
        number(m.loss);
        *p++ = ',';
        if (m.loss < 100) number(m.response_ms);
        *p++ = ',';
        if (const std::optional<int> answered = AnsweredOf(m.loss)) number(*answered);
        *p++ = '\r';
        *p++ = '\n';
        put(key_field);
        put(std::string_view(row, static_cast<std::size_t>(p - row)));
      });
  if (ok) flush();  // nothing at all when the file cannot be read
  std::fflush(out);
  return ok;
}

}  // namespace trelvane
