#pragma once

#include <string>
#include <string_view>

namespace trelvane {

// Text of the file's Windows-1252 bytes as UTF-8 (bytes above 0x7F taken as Latin-1), unless it is
// UTF-8 already.
std::string Utf8Of(std::string_view text);

// A CSV field (RFC 4180), in UTF-8: quoted when it holds a comma, a quote or a line end.
std::string CsvField(std::string_view text);

// A JSON string, in UTF-8, quoted and escaped.
std::string JsonString(std::string_view text);

// `text` followed by blanks up to `width` characters (not bytes: the headings are French).
std::string PadToWidth(std::string_view text, std::size_t width);

}  // namespace trelvane
