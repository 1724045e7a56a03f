#pragma once

#include <string>
#include <string_view>

namespace trelvane {

// The UTF-8 sequence that starts at `text[at]`: its code point and its length in bytes; length 0
// when no valid sequence starts there.
struct Utf8Char {
  char32_t code = 0;
  std::size_t length = 0;
};
Utf8Char DecodeUtf8(std::string_view text, std::size_t at);

// The code point of a Windows-1252 byte (for the five bytes it leaves unused, their Latin-1 one).
char32_t CodePointOf1252(unsigned char byte);

// Text of the file's Windows-1252 bytes as UTF-8, unless it is UTF-8 already.
std::string Utf8Of(std::string_view text);

// A CSV field (RFC 4180), in UTF-8: quoted when it holds a comma, a quote or a line end.
std::string CsvField(std::string_view text);

// A JSON string, in UTF-8, quoted and escaped.
std::string JsonString(std::string_view text);

// `text` followed by blanks up to `width` characters (not bytes: the headings are French).
std::string PadToWidth(std::string_view text, std::size_t width);

}  // namespace trelvane
