#include "history/history_location.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "history/history_format.h"

namespace trelvane {
namespace {

namespace fs = std::filesystem;

std::string Join(const std::string& folder, std::string_view name) {
  return (fs::path(folder) / fs::path(std::string(name))).string();
}

}  // namespace

HistoryLocation ChooseHistoryLocation(
    const std::string& working_directory,
    const std::function<std::optional<std::string>(std::string_view)>& environment,
    const std::function<bool(const std::string&)>& exists) {
  const std::string local = Join(working_directory, kHistoryFileName);
  if (exists(local)) return HistoryLocation{local, HistoryLocation::Why::kWorkingDirectory};
  // The XDG rule: a relative XDG_DATA_HOME is invalid and ignored.
  const std::optional<std::string> data_home = environment("XDG_DATA_HOME");
  std::string folder;
  if (data_home && fs::path(*data_home).is_absolute()) {
    folder = *data_home;
  } else if (const std::optional<std::string> home = environment("HOME");
             home && fs::path(*home).is_absolute()) {
    folder = Join(Join(*home, ".local"), "share");
  } else {
    return HistoryLocation{local, HistoryLocation::Why::kFallback};
  }
  return HistoryLocation{Join(Join(folder, "trelvane"), kHistoryFileName),
                         HistoryLocation::Why::kDataHome};
}

HistoryLocation SystemHistoryLocation() {
  std::error_code error;
  fs::path working_directory = fs::current_path(error);
  if (error) working_directory = fs::path(".");
  return ChooseHistoryLocation(
      working_directory.string(),
      [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr || *value == '\0') return std::nullopt;
        return std::string(value);
      },
      [](const std::string& path) {
        std::error_code status_error;
        return fs::symlink_status(path, status_error).type() != fs::file_type::not_found &&
               !status_error;
      });
}

std::string DescribeLocation(const HistoryLocation& location) {
  std::string text = location.path;
  switch (location.why) {
    case HistoryLocation::Why::kWorkingDirectory:
      text.append(" (a trelvane.txt in the folder the program was started from)");
      break;
    case HistoryLocation::Why::kDataHome:
      text.append(" (the user's data folder)");
      break;
    case HistoryLocation::Why::kFallback:
      text.append(" (no home folder is known: the working directory)");
      break;
  }
  return text;
}

bool MakeFolderFor(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) return true;
  std::error_code error;
  if (fs::is_directory(folder, error)) return true;
  if (!fs::create_directories(folder, error) || error) return false;
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
  return true;
}

}  // namespace trelvane
