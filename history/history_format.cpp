#include "history/history_format.h"

#include "history/report_encoding.h"

namespace trelvane {
namespace {

constexpr std::string_view kHostLineStart = "+++++ H\xF4te : ";

// Windows-1252's bytes 0x80 to 0x9F, as Unicode code points (0: a byte it leaves unused).
constexpr char32_t kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The Windows-1252 byte of a code point, or '?'.
char ByteOf(char32_t c) {
  if (c < 0x20 || c == 0x7F) return '?';  // a control character never enters a line
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < 32; ++i) {
    if (kHigh1252[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string StartupMarker(const LocalTime& now, Separators separators) {
  return "++++++++++ D\xE9marrage de l'application : " + FormatDate(now, separators.date) + " - " +
         FormatTime(now, separators.time);
}

std::string RunHeader(const LocalTime& now, Separators separators) {
  return "***** " + FormatDate(now, separators.date) + " - " + FormatTime(now, separators.time);
}

std::string HostLine(std::string_view host) {
  std::string line(kHostLineStart);
  // A byte that starts no valid UTF-8 sequence is one character, "?".
  for (std::size_t i = 0; i < host.size();) {
    const Utf8Char c = DecodeUtf8(host, i);
    line += c.length > 0 ? ByteOf(c.code) : '?';
    i += c.length > 0 ? c.length : 1;
  }
  return line;
}

std::optional<std::string_view> HostOfLine(std::string_view line) {
  if (!line.starts_with(kHostLineStart)) return std::nullopt;
  return line.substr(kHostLineStart.size());
}

}  // namespace trelvane
