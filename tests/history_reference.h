#pragma once

// The history file's reading rules, written the plain way: the whole file as lines, the run list
// with its two counters, and the replay line by line. Tests compare the fast readers with these.

#include <cstdint>
#include <string>
#include <vector>

#include "measure/measurement.h"

namespace trelvane::reference {

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

inline bool Header(const std::string& l) { return l.rfind("*****", 0) == 0; }
inline bool Ends(const std::string& l) {
  return l.empty() || Header(l) || l.rfind("+++++", 0) == 0;
}
inline std::string Key(const std::string& l) {
  return l.size() <= 21 ? l : l.substr(l.size() - 21);
}

// The run list as its rules read, counter for counter.
inline std::vector<std::string> ReferenceRunList(const std::vector<std::string>& lines) {
  std::vector<std::string> combo;  // entry 0 first
  std::size_t n = 0, h = 0;
  for (const std::string& line : lines) {
    ++n;
    if (h != 0 && n == h + 1 && Ends(line)) combo.erase(combo.begin());
    if (Header(line)) {
      combo.insert(combo.begin(), Key(line));
      h = n;
    }
  }
  if (h != 0 && h == n) combo.erase(combo.begin());
  return combo;
}

// Lines longer than `max_line` bytes are passed over, as the bounded readers do.
inline std::vector<trelvane::Measurement> ReferenceReplay(const std::vector<std::string>& lines,
                                                          const std::string& key,
                                                          std::size_t max_line = SIZE_MAX) {
  std::vector<trelvane::Measurement> out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!Header(lines[i]) || Key(lines[i]) != key || i + 1 >= lines.size()) continue;
    std::size_t j = i + 1;
    for (; j < lines.size() && !Ends(lines[j]); ++j) {
      if (lines[j].size() > max_line) continue;
      std::vector<std::string> fields;
      std::size_t start = 0;
      for (;;) {
        const std::size_t blank = lines[j].find(' ', start);
        fields.push_back(
            lines[j].substr(start, blank == std::string::npos ? blank : blank - start));
        if (blank == std::string::npos) break;
        start = blank + 1;
      }
      if (fields.size() >= 3) out.push_back({fields[0], fields[1], fields[2]});
    }
    i = j;  // the line that ended the run is not examined again
  }
  return out;
}

}  // namespace trelvane::reference
