#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_store.h"

namespace trelvane {

// What a file holds of a history, looked at when a report or an export of it came out empty: so
// that "nothing in this period" can be told apart from "not a history" and "no such run".
struct HistorySurvey {
  // A start-up marker, a run header or a measurement line: the file is a history (if empty).
  bool holds_history = false;
  // The key of each run header, in file order.
  std::vector<std::string> run_keys;
};

// Reads the whole file with a bounded buffer; false when it cannot be read.
bool SurveyHistory(const std::string& path, HistorySurvey& survey, FileError& error,
                   std::size_t block_bytes = std::size_t{1} << 20,
                   std::size_t max_line_bytes = 4096);

// The keys nearest to `wanted` (fewest characters to change), at most `count`, nearest first;
// equally near keys in file order.
std::vector<std::string> ClosestKeys(const std::vector<std::string>& keys, std::string_view wanted,
                                     std::size_t count = 3);

}  // namespace trelvane
