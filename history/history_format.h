#pragma once

#include <string>
#include <string_view>

#include "measure/clock.h"

namespace trelvane {

inline constexpr std::string_view kHistoryFileName = "trelvane.txt";
// Lines of the history file end in CR LF.
inline constexpr std::string_view kLineEnd = "\r\n";
inline constexpr std::string_view kRunHeaderMark = "*****";
inline constexpr std::string_view kStartupMark = "+++++";

// "++++++++++ Démarrage de l'application : dd/mm/yyyy - hh:mm:ss", 61 bytes: the "é" is the
// single byte 0xE9 (Windows-1252), as the file has always held it.
std::string StartupMarker(const LocalTime& now, Separators separators = {});

// "***** dd/mm/yyyy - hh:mm:ss", 27 characters; its last 21 characters are the run key.
std::string RunHeader(const LocalTime& now, Separators separators = {});

}  // namespace trelvane
