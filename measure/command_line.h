#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trelvane {

inline constexpr std::string_view kProgramName = "trelvane";
inline constexpr std::string_view kProgramVersion = "0.4";

// What the command line asks for.
struct CommandLine {
  enum class Mode {
    kWindow,      // the window; `host` is the target host, empty for none
    kBurst,       // one burst to `host` on the terminal
    kHelp,        // usage on stdout
    kVersion,     // version on stdout
    kUsageError,  // usage on stderr, exit status 2
  };
  Mode mode = Mode::kWindow;
  std::string host;
};

// The arguments after the program's name joined by single blanks, outer blanks trimmed: the whole
// argument text, as the target host is read from it.
std::string JoinArguments(const std::vector<std::string>& arguments);

// Options are recognised only as the first argument ("--burst HOST", "--help", "--version");
// anything else is the target host.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();

}  // namespace trelvane
