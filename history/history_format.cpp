#include "history/history_format.h"

#include "history/report_encoding.h"

namespace trelvane {
namespace {

constexpr std::string_view kHostLineStart = "+++++ H\xF4te : ";

// The Windows-1252 byte of a code point, or '?'.
char ByteOf(char32_t c) {
  // A control character never enters a line (C1 ones included: they are no text either).
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return '?';
  if (c < 0x100) return static_cast<char>(c);
  for (unsigned byte = 0x80; byte <= 0x9F; ++byte) {
    if (CodePointOf1252(static_cast<unsigned char>(byte)) == c) return static_cast<char>(byte);
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
