#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "measure/clock.h"

namespace trelvane {

inline constexpr std::string_view kHistoryFileName = "trelvane.txt";
// Lines of the history file end in CR LF.
inline constexpr std::string_view kLineEnd = "\r\n";
inline constexpr std::string_view kRunHeaderMark = "*****";
inline constexpr std::string_view kStartupMark = "+++++";
// A run header's key is its last 21 characters (the whole line when it is shorter).
inline constexpr std::size_t kRunKeyLength = 21;

inline bool IsRunHeader(std::string_view line) { return line.starts_with(kRunHeaderMark); }
inline bool IsStartupMarker(std::string_view line) { return line.starts_with(kStartupMark); }
// A run's lines end at the first empty line, run header or start-up marker.
inline bool EndsARun(std::string_view line) {
  // Most lines begin with a digit: one look settles them.
  return line.empty() ||
         ((line[0] == '*' || line[0] == '+') && (IsRunHeader(line) || IsStartupMarker(line)));
}
// The key of a run header.
inline std::string_view RunKey(std::string_view header) {
  return header.size() <= kRunKeyLength ? header : header.substr(header.size() - kRunKeyLength);
}

// "++++++++++ Démarrage de l'application : dd/mm/yyyy - hh:mm:ss", 61 bytes: the "é" is the
// single byte 0xE9 (Windows-1252), as the file has always held it.
std::string StartupMarker(const LocalTime& now, Separators separators = {});

// "***** dd/mm/yyyy - hh:mm:ss", 27 characters; its last 21 characters are the run key.
std::string RunHeader(const LocalTime& now, Separators separators = {});

// The line just before a run's header that names the host it measures, as typed: "+++++ Hôte : "
// (the "ô" the single byte 0xF4) and the host (UTF-8) in the file's Windows-1252, each character
// it cannot hold written "?", and no control character. A line that begins with "+++++" ends the
// run before it and is never a run: readers that know nothing of it read the runs as before.
std::string HostLine(std::string_view host);
// The host a host line names, as the file holds it (Windows-1252); nothing for any other line.
std::optional<std::string_view> HostOfLine(std::string_view line);
// What the reports say of a run whose header has no host line before it.
inline constexpr std::string_view kUnknownHost = "h\xC3\xB4te inconnu";

}  // namespace trelvane
