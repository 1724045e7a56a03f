#pragma once

// The tables of the program's options, which the parser reads and --help lists.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"

namespace trelvane::cli_options {

inline std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The options of the program, one row each: what --help lists and what the parser accepts.
struct Option {
  std::string_view short_name;  // empty when there is none
  std::string_view name;
  std::string_view argument;  // empty when it takes none
  std::string_view help;
  void (*handle)(const std::vector<std::string>& rest, CommandLine& line);
};

// The options of --report and --export, after it: --name VALUE or --name=VALUE.
struct QueryOption {
  std::string_view name;
  std::string_view argument;
  std::string_view help;
  bool report_only;
  // False when the value is wrong; `error` says why.
  bool (*take)(std::string_view value, HistoryQuery& query, std::string& error);
};

extern const std::array<Option, 6> kOptions;
extern const std::array<QueryOption, 8> kQueryOptions;

}  // namespace trelvane::cli_options
