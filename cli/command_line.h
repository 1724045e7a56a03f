#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_report.h"
#include "measure/calendar.h"

namespace trelvane {

inline constexpr std::string_view kProgramName = "trelvane";
// One version for the program, the package and the manual: the build's project version.
inline constexpr std::string_view kProgramVersion = TRELVANE_VERSION;

// What --report and --export are asked for.
struct HistoryQuery {
  ReportOptions options;                      // the period, the run, the loss threshold
  ReportFormat format = ReportFormat::kText;  // --export: kCsv or kJson
  std::vector<std::string> files;             // none: the history file the window would use
};

// Where the figures are served: an address (IPv4 or IPv6, as written) and a port.
struct MetricsAddress {
  std::string address = "127.0.0.1";
  int port = 0;
};
// "PORT", "ADDRESS:PORT" or "[IPV6]:PORT"; nothing when it is none of these.
std::optional<MetricsAddress> ParseMetricsAddress(std::string_view text);

// What the command line asks for.
struct CommandLine {
  enum class Mode {
    kWindow,      // the window; `host` is the target host, empty for none
    kHeadless,    // the measurement cycle to `host` without a display
    kBurst,       // one burst to `host` on the terminal
    kTrace,       // one trace to `host` on the terminal
    kHelp,        // usage on stdout
    kVersion,     // version on stdout
    kReport,      // the report of `query` on stdout
    kExport,      // the measurements of `query` as CSV or JSON lines on stdout
    kUsageError,  // `error` and the usage on stderr, exit status 2
  };
  Mode mode = Mode::kWindow;
  std::string host;
  std::string history;  // --history FILE: the window's history file; empty for the default
  // --metrics-listen: where to serve the figures for Prometheus ("127.0.0.1:9105"); empty: not.
  std::optional<MetricsAddress> metrics_listen;
  std::string metrics_file;  // --metrics-file PATH: the same, as a file; empty: not
  bool quiet = false;        // --headless --quiet: nothing on stdout
  std::string error;
  HistoryQuery query;
};

// Exit status of a command line that is wrong.
inline constexpr int kUsageExitStatus = 2;
// Exit status of a start with a host while another window runs on the same history file.
inline constexpr int kHistoryInUseExitStatus = 3;
// Exit status of --burst and --trace when no ICMP socket may be opened: no privilege, every
// request "Err".
inline constexpr int kNotPermittedExitStatus = 4;
// Exit status of --burst and --trace when the host's name does not exist (the resolver's definite
// answer).
inline constexpr int kNoSuchHostExitStatus = 5;

// The arguments after the program's name joined by single blanks, outer blanks trimmed: the whole
// argument text, as the target host is read from it.
std::string JoinArguments(const std::vector<std::string>& arguments);

// The arguments without the windowing toolkit's standard options ("-style fusion", "-platform
// xcb", "--reverse", "-style=fusion", ...), which the toolkit takes and applies itself.
std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& arguments);

// Reads the arguments after the program's name:
//  1. the toolkit's options are set aside (WithoutToolkitOptions);
//  2. a first word that is one of the options of the table (--burst, --help, ...) selects it;
//  3. any other first word that starts with '-' is a usage error;
//  4. otherwise the whole argument text is the target host.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text, generated from the table of options; `history_file` says which history file is
// used and why.
std::string UsageText(std::string_view history_file = {});

}  // namespace trelvane
