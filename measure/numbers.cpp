#include "measure/numbers.h"

#include <charconv>

namespace trelvane {

std::optional<int> ParseWholeNumber(std::string_view text) {
  if (text.empty() || text.front() == '+') return std::nullopt;
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace trelvane
