#include "history/report_encoding.h"

#include <cstdio>

namespace trelvane {
namespace {

// Windows-1252's bytes 0x80 to 0x9F (0: a byte it leaves unused).
constexpr char32_t kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

char32_t CodePointOf1252(unsigned char byte) {
  if (byte < 0x80 || byte > 0x9F) return byte;
  const char32_t code = kHigh1252[byte - 0x80];
  return code != 0 ? code : byte;
}

Utf8Char DecodeUtf8(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80         ? 1
                             : (lead >> 5) == 6  ? 2
                             : (lead >> 4) == 14 ? 3
                             : (lead >> 3) == 30 ? 4
                                                 : 0;
  if (length == 0 || at + length > text.size()) return {};
  char32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next >> 6) != 2) return {};
    code = (code << 6) | (next & 0x3F);
  }
  return {code, length};
}

std::string Utf8Of(std::string_view text) {
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(text);
  std::size_t i = 0;
  bool valid = true;
  while (valid && i < text.size()) {
    const std::size_t length = DecodeUtf8(text, i).length;
    valid = length > 0;
    i += length;
  }
  if (valid) return std::string(text);
  std::string out;
  for (const char c : text) AppendUtf8(CodePointOf1252(static_cast<unsigned char>(c)), out);
  return out;
}

std::string CsvField(std::string_view text) {
  std::string utf8 = Utf8Of(text);
  if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string PadToWidth(std::string_view text, std::size_t width) {
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

}  // namespace trelvane
