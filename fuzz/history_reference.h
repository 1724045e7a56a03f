#pragma once

// The history file's reading rules, written the plain way: the whole file as lines, the run list
// with its two counters, and the replay line by line. The fuzzer compares the fast readers with
// these.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "measure/measurement.h"

namespace trelvane::reference {

inline std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline bool Header(const std::string& l) { return l.starts_with("*****"); }
inline bool Ends(const std::string& l) { return l.empty() || Header(l) || l.starts_with("+++++"); }
inline std::string Key(const std::string& l) {
  return l.size() <= 21 ? l : l.substr(l.size() - 21);
}

// The run list as its rules read, counter for counter.
inline std::vector<std::string> RunList(const std::vector<std::string>& lines) {
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

// The host of each run of RunList, in its order: the line right before the header when it names
// one ("+++++ Hôte : HOST"), as much of it as the first `max_line` bytes hold; else empty.
inline std::vector<std::string> RunHosts(const std::vector<std::string>& lines,
                                         std::size_t max_line) {
  const std::string start = "+++++ H\xF4te : ";
  std::vector<std::string> hosts;  // entry 0 first
  std::size_t n = 0, h = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ++n;
    if (h != 0 && n == h + 1 && Ends(lines[i])) hosts.erase(hosts.begin());
    if (Header(lines[i])) {
      const std::string before = i > 0 ? lines[i - 1].substr(0, max_line) : std::string();
      hosts.insert(hosts.begin(), before.starts_with(start) ? before.substr(start.size()) : "");
      h = n;
    }
  }
  if (h != 0 && h == n) hosts.erase(hosts.begin());
  return hosts;
}

// Lines longer than `max_line` bytes are passed over, as the bounded readers do.
inline std::vector<Measurement> Replay(const std::vector<std::string>& lines,
                                       const std::string& key, std::size_t max_line = SIZE_MAX) {
  std::vector<Measurement> out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!Header(lines[i]) || Key(lines[i]) != key) continue;
    for (++i; i < lines.size() && !Ends(lines[i]); ++i) {
      std::vector<std::string> fields;  // cut at every single blank
      for (std::size_t start = 0, blank = 0; blank != std::string::npos; start = blank + 1) {
        blank = lines[i].find(' ', start);
        fields.push_back(
            lines[i].substr(start, blank == std::string::npos ? blank : blank - start));
      }
      if (fields.size() >= 3 && lines[i].size() <= max_line)
        out.push_back({fields[0], fields[1], fields[2]});
    }
  }
  return out;
}

}  // namespace trelvane::reference
