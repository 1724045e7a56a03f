#include "history/history_survey.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "history/history_format.h"
#include "history/line_reader.h"
#include "history/measurement_reader.h"

namespace trelvane {
namespace {

// The edit distance of two short texts (a run key is 21 characters).
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

bool SurveyHistory(const std::string& path, HistorySurvey& survey, FileError& error,
                   std::size_t block_bytes, std::size_t max_line_bytes) {
  survey = HistorySurvey{};
  std::optional<StoredFile> file = StoredFile::OpenForReading(path, error);
  if (!file) return false;
  LineReader reader(*file, 0, block_bytes, max_line_bytes);
  StoredLine line;
  MeasurementLineReader measurements;
  while (reader.Next(line)) {
    if (IsRunHeader(line.text)) {
      survey.holds_history = true;
      survey.run_keys.emplace_back(line.tail);
    } else if (!survey.holds_history) {
      survey.holds_history =
          IsStartupMarker(line.text) || (line.whole && measurements.Read(line.text));
    }
  }
  if (reader.failed()) {
    error = FileError{FileError::Kind::kSystem, EIO};
    return false;
  }
  return true;
}

std::vector<std::string> ClosestKeys(const std::vector<std::string>& keys, std::string_view wanted,
                                     std::size_t count) {
  std::vector<std::pair<std::size_t, std::size_t>> ranked;  // distance, place in `keys`
  ranked.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) ranked.emplace_back(Distance(keys[i], wanted), i);
  const std::size_t kept = std::min(count, ranked.size());
  std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(kept),
                    ranked.end());
  std::vector<std::string> closest;
  for (std::size_t i = 0; i < kept; ++i) closest.push_back(keys[ranked[i].second]);
  return closest;
}

}  // namespace trelvane
