#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace trelvane {

// Which history file the program uses, and why.
struct HistoryLocation {
  enum class Why {
    kWorkingDirectory,  // a trelvane.txt stands in the folder the program was started from
    kDataHome,          // the user's data folder: $XDG_DATA_HOME/trelvane, ~/.local/share/trelvane
    kFallback,          // neither a home nor a data folder is known: the working directory
  };
  std::string path;
  Why why = Why::kWorkingDirectory;
};

// The rule, with the environment and the file system as parameters:
//  1. a trelvane.txt already in the working directory (whatever it is: a file, a link, a folder)
//     is used, exactly as before, so existing histories go on where they are;
//  2. otherwise $XDG_DATA_HOME/trelvane/trelvane.txt when XDG_DATA_HOME is an absolute path,
//     else $HOME/.local/share/trelvane/trelvane.txt;
//  3. with neither, trelvane.txt in the working directory.
HistoryLocation ChooseHistoryLocation(
    const std::string& working_directory,
    const std::function<std::optional<std::string>(std::string_view)>& environment,
    const std::function<bool(const std::string&)>& exists);

// The rule on this machine: the process's working directory and environment.
HistoryLocation SystemHistoryLocation();

// One line that says which file and why, for --help and the terminal.
std::string DescribeLocation(const HistoryLocation& location);

// Makes the folder that is to hold `path` (and its parents), the last one readable by its owner
// only. True when it exists afterwards.
bool MakeFolderFor(const std::string& path);

}  // namespace trelvane
