#include <climits>
#include <cstring>
#include <vector>

#include "history/history_report.h"
#include "history/report_encoding.h"
#include "measure/burst.h"

namespace trelvane {

bool ExportMeasurements(const std::string& path, const ReportOptions& options, ReportFormat format,
                        std::FILE* out, FileError& error, std::size_t* rows) {
  const bool json = format == ReportFormat::kJson;
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
  if (!json) put("run,datetime,loss_percent,response_ms,answered_of_24,host\r\n");
  std::string key_field;
  std::string host_field;  // the row's end: the run's host (empty, or null, when unknown)
  std::size_t written = 0;
  // The ISO text of the last day written, kept from one row to the next: most rows are a minute
  // after the one before.
  std::int64_t day_cached = INT64_MIN;
  char date_text[64] = {};
  const bool ok = ForEachMeasurement(
      path, options, error,
      [&](const std::string& key, const std::string& host) {
        key_field = json ? "{\"run\":" + JsonString(key) + ",\"datetime\":\"" : CsvField(key) + ",";
        if (json) {
          host_field =
              ",\"host\":" + (host.empty() ? std::string("null") : JsonString(host)) + "}\n";
        } else {
          host_field = "," + (host.empty() ? std::string() : CsvField(host)) + "\r\n";
        }
      },
      [&](const StoredMeasurement& m) {
        const std::int64_t day = m.minute >= 0 ? m.minute / 1440 : (m.minute - 1439) / 1440;
        if (day != day_cached) {
          day_cached = day;
          const CalendarDate date = CivilFromDays(day);
          std::snprintf(date_text, sizeof(date_text), "%04d-%02d-%02dT", date.year, date.month,
                        date.day);
        }
        const auto of_day = static_cast<int>(m.minute - day * 1440);
        char row[160];
        char* p = row;
        std::memcpy(p, date_text, 11);
        p += 11;
        *p++ = static_cast<char>('0' + of_day / 600);
        *p++ = static_cast<char>('0' + of_day / 60 % 10);
        *p++ = ':';
        *p++ = static_cast<char>('0' + of_day % 60 / 10);
        *p++ = static_cast<char>('0' + of_day % 10);
        // The UTC offset in force then: the stamps are local times.
        const int offset = m.at.offset < 0 ? -m.at.offset : m.at.offset;
        *p++ = m.at.offset < 0 ? '-' : '+';
        *p++ = static_cast<char>('0' + offset / 600 % 10);
        *p++ = static_cast<char>('0' + offset / 60 % 10);
        *p++ = ':';
        *p++ = static_cast<char>('0' + offset % 60 / 10);
        *p++ = static_cast<char>('0' + offset % 10);
        auto text = [&p](std::string_view piece) {
          std::memcpy(p, piece.data(), piece.size());
          p += piece.size();
        };
        text(json ? "\",\"loss_percent\":" : ",");
        auto number = [&p](int value) {
          char digits[12];
          int n = 0;
          do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
          } while (value > 0);
          while (n > 0) *p++ = digits[--n];
        };
        // Nothing answered: no response time (empty, or null); a loss no burst of 24 gives: no
        // count of answers.
        number(m.loss);
        text(json ? ",\"response_ms\":" : ",");
        if (m.loss < 100) {
          number(m.response_ms);
        } else if (json) {
          text("null");
        }
        text(json ? ",\"answered_of_24\":" : ",");
        if (const std::optional<int> answered = AnsweredOf(m.loss)) {
          number(*answered);
        } else if (json) {
          text("null");
        }

        ++written;
        put(key_field);
        put(std::string_view(row, static_cast<std::size_t>(p - row)));
        put(host_field);
      });
  if (ok) flush();  // nothing at all when the file cannot be read
  std::fflush(out);
  if (rows != nullptr) *rows = written;
  return ok;
}

}  // namespace trelvane
