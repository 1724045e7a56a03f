#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include "history/history_report.h"
#include "history/report_encoding.h"
#include "measure/burst.h"

namespace trelvane {
namespace {

constexpr char kTwoDigits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

bool ExportMeasurements(const std::string& path, const ReportOptions& options, ReportFormat format,
                        std::FILE* out, FileError& error, std::size_t* rows) {
  const bool json = format == ReportFormat::kJson;
  std::vector<char> buffer(std::size_t{64} << 10);
  std::size_t used = 0;
  auto flush = [&] {
    std::fwrite(buffer.data(), 1, used, out);
    used = 0;
  };
  // Room for `bytes` more at buffer[used]; the buffer grows for a row longer than it (a run key
  // or host of a long line).
  auto room = [&](std::size_t bytes) {
    if (used + bytes > buffer.size()) flush();
    if (bytes > buffer.size()) buffer.resize(bytes);
  };
  auto put = [&](std::string_view text) {
    room(text.size());
    std::memcpy(buffer.data() + used, text.data(), text.size());
    used += text.size();
  };
  if (!json) put("run,datetime,loss_percent,response_ms,answered_of_24,host\r\n");
  std::string key_field;
  std::string host_field;  // the row's end: the run's host (empty, or null, when unknown)
  std::size_t written = 0;
  // The row's start: the run's key field and the ISO date of the last day written, kept from one
  // row to the next (most rows are a minute after the one before).
  std::string prefix;
  // Per loss (0 to 100, as the reader gives it): the answered requests' field.
  std::array<std::string, 101> answered_field;
  for (int loss = 0; loss <= 100; ++loss) {
    const std::optional<int> answered = AnsweredOf(loss);
    answered_field[static_cast<std::size_t>(loss)] =
        (json ? ",\"answered_of_24\":" : ",") + (answered ? std::to_string(*answered)
                                                 : json   ? "null"
                                                          : "");
  }
  std::int64_t day_cached = INT64_MIN;
  const bool ok = ForEachMeasurement(
      path, options, error,
      [&](const std::string& key, const std::string& host) {
        key_field = json ? "{\"run\":" + JsonString(key) + ",\"datetime\":\"" : CsvField(key) + ",";
        day_cached = INT64_MIN;
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
          char date_text[64];
          std::snprintf(date_text, sizeof(date_text), "%04d-%02d-%02dT", date.year, date.month,
                        date.day);
          prefix = key_field + date_text;
        }
        const auto of_day = static_cast<int>(m.minute - day * 1440);
        // The row is written in place: the start, the figures (under 160 bytes), the host.
        room(prefix.size() + 160 + host_field.size());
        char* p = buffer.data() + used;
        auto text = [&p](std::string_view piece) {
          std::memcpy(p, piece.data(), piece.size());
          p += piece.size();
        };
        auto two_digits = [&p](int value) {
          std::memcpy(p, kTwoDigits + std::ptrdiff_t{2} * value, 2);
          p += 2;
        };
        text(prefix);
        two_digits(of_day / 60);
        *p++ = ':';
        two_digits(of_day % 60);
        // The UTC offset in force then: the stamps are local times.
        const int offset = m.at.offset < 0 ? -m.at.offset : m.at.offset;
        *p++ = m.at.offset < 0 ? '-' : '+';
        two_digits(offset / 60 % 100);
        *p++ = ':';
        two_digits(offset % 60);
        text(json ? "\",\"loss_percent\":" : ",");
        auto number = [&p, &two_digits](int value) {
          if (value < 10) {
            *p++ = static_cast<char>('0' + value);
            return;
          }
          if (value < 100) {
            two_digits(value);
            return;
          }
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
        text(answered_field[static_cast<std::size_t>(m.loss)]);
        text(host_field);
        used = static_cast<std::size_t>(p - buffer.data());
        ++written;
      });
  if (ok) flush();  // nothing at all when the file cannot be read
  std::fflush(out);
  if (rows != nullptr) *rows = written;
  return ok;
}

}  // namespace trelvane
