#include "history/report_encoding.h"

#include <cstdio>

namespace trelvane {

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
