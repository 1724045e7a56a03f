#pragma once

#include <optional>
#include <string_view>

namespace trelvane {

// The one place where the texts of the series and of the history file become numbers: an optional
// minus sign and decimal digits, nothing else (no blanks, no sign "+", no fraction), within int.
std::optional<int> ParseWholeNumber(std::string_view text);

}  // namespace trelvane
