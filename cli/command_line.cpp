#include "cli/command_line.h"

#include <array>
#include <charconv>

#include "cli/options.h"

namespace trelvane {
namespace {

using namespace cli_options;

// A whole number from `min` to `max`, all of `value`.
bool TakeWhole(std::string_view value, int min, int max, const char* what, int& number,
               std::string& error) {
  int taken = 0;
  const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), taken);
  if (failure != std::errc() || end != value.data() + value.size() || taken < min || taken > max) {
    error = std::string("not ") + what + " from " + std::to_string(min) + " to " +
            std::to_string(max) + ": '" + std::string(value) + "'";
    return false;
  }
  number = taken;
  return true;
}

bool TakeDate(std::string_view value, std::optional<CalendarDate>& date, std::string& error) {
  date = ParseIsoDate(value);
  if (!date) error = "not a date (yyyy-mm-dd): '" + std::string(value) + "'";
  return date.has_value();
}

}  // namespace

const std::array<QueryOption, 8> cli_options::kQueryOptions = {{
    {"--since", "DATE", "from this day on (yyyy-mm-dd, included)", false,
     [](std::string_view v, HistoryQuery& q, std::string& e) {
       return TakeDate(v, q.options.since, e);
     }},
    {"--until", "DATE", "up to this day (included)", false,
     [](std::string_view v, HistoryQuery& q, std::string& e) {
       return TakeDate(v, q.options.until, e);
     }},
    {"--history", "FILE", "a history file to read (as FILE; --report takes several)", false,
     [](std::string_view v, HistoryQuery& q, std::string&) {
       q.files.emplace_back(v);
       return true;
     }},
    {"--run", "KEY", "one run, by its key as the window lists it (\"06/12/2026 - 09:15:02\")",
     false,
     [](std::string_view v, HistoryQuery& q, std::string&) {
       q.options.run = std::string(v);
       return true;
     }},
    {"--loss-threshold", "PCT", "a loss episode has a loss of at least PCT (default 25)", true,
     [](std::string_view v, HistoryQuery& q, std::string& e) {
       return TakeWhole(v, 1, 100, "a loss threshold", q.options.loss_threshold, e);
     }},
    {"--merge", "MIN",
     "loss episodes with fewer than MIN minutes between them are one (default 5, 0 never)", true,
     [](std::string_view v, HistoryQuery& q, std::string& e) {
       return TakeWhole(v, 0, 1440, "a number of minutes", q.options.merge_minutes, e);
     }},
    {"--details", "", "the text report lists every loss episode and gap too", true,
     [](std::string_view, HistoryQuery& q, std::string&) {
       q.options.details = true;
       return true;
     }},
    {"--format", "FORMAT",
     "--report: text (default), csv, json, html (one page to attach to an e-mail) or markdown; "
     "--export: csv (default) or json (JSON lines)",
     false,
     [](std::string_view v, HistoryQuery& q, std::string& e) {
       if (v != "text" && v != "csv" && v != "json" && v != "html" && v != "markdown") {
         e = "not a format (text, csv, json, html, markdown): '" + std::string(v) + "'";
         return false;
       }
       q.format = v == "json"       ? ReportFormat::kJson
                  : v == "csv"      ? ReportFormat::kCsv
                  : v == "html"     ? ReportFormat::kHtml
                  : v == "markdown" ? ReportFormat::kMarkdown
                                    : ReportFormat::kText;
       return true;
     }},
}};

namespace {

// Reads the words after --report or --export.
void TakeQuery(const std::vector<std::string>& rest, CommandLine::Mode mode, CommandLine& line) {
  line.mode = mode;
  const bool report = mode == CommandLine::Mode::kReport;
  bool format_given = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const std::string_view word = rest[i];
    if (word.size() > 1 && word[0] == '-') {
      const std::size_t equals = word.find('=');
      const std::string_view name = word.substr(0, equals);
      const QueryOption* option = nullptr;
      for (const QueryOption& o : kQueryOptions) {
        if (o.name == name && (report || !o.report_only)) option = &o;
      }
      if (option == nullptr) {
        line.mode = CommandLine::Mode::kUsageError;
        line.error = "unrecognized option '" + std::string(name) + "'";
        return;
      }
      std::string_view value;
      if (option->argument.empty()) {
        if (equals != std::string_view::npos) {
          line.mode = CommandLine::Mode::kUsageError;
          line.error = "option '" + std::string(name) + "' takes no value";
          return;
        }
      } else if (equals != std::string_view::npos) {
        value = word.substr(equals + 1);
      } else if (i + 1 < rest.size()) {
        value = rest[++i];
      } else {
        line.mode = CommandLine::Mode::kUsageError;
        line.error = "option '" + std::string(name) + "' needs " + std::string(option->argument);
        return;
      }
      if (!option->take(value, line.query, line.error)) {
        line.mode = CommandLine::Mode::kUsageError;
        return;
      }
      format_given = format_given || name == "--format";
      continue;
    }
    line.query.files.emplace_back(word);
  }
  if (!report && line.query.files.size() > 1) {
    line.mode = CommandLine::Mode::kUsageError;
    line.error = "--export reads one history file: '" + line.query.files[1] + "'";
    return;
  }
  const ReportFormat format = line.query.format;
  if (!report && format != ReportFormat::kCsv && format != ReportFormat::kJson) {
    if (format_given) {
      line.mode = CommandLine::Mode::kUsageError;
      line.error = "--export writes csv or json only";
      return;
    }
    line.query.format = ReportFormat::kCsv;
  }
  const ReportOptions& options = line.query.options;
  if (options.since && options.until &&
      MinuteIndex(*options.since, 0, 0) > MinuteIndex(*options.until, 0, 0)) {
    line.mode = CommandLine::Mode::kUsageError;
    line.error = "--since comes after --until";
  }
}

// The host after an option that measures it: the whole rest of the command line.
void TakeHost(const std::vector<std::string>& rest, CommandLine::Mode mode, const char* option,
              CommandLine& line) {
  line.host = JoinArguments(rest);
  line.mode = mode;
  if (line.host.empty()) {
    line.mode = CommandLine::Mode::kUsageError;
    line.error = std::string(option) + " needs a host";
  }
}

}  // namespace

const std::array<Option, 6> cli_options::kOptions = {{
    {"", "--burst", "HOST",
     "send one burst to HOST, print each result and the measurement line, and exit; no window, "
     "nothing written to the history file",
     [](const std::vector<std::string>& rest, CommandLine& line) {
       TakeHost(rest, CommandLine::Mode::kBurst, "--burst", line);
     }},
    {"", "--trace", "HOST",
     "show the path to HOST hop by hop: echo requests with every hop limit from 1 to 30, three "
     "each, all at once (about 2 s); a line per hop with its address and three round-trip times "
     "or '*', up to HOST itself",
     [](const std::vector<std::string>& rest, CommandLine& line) {
       TakeHost(rest, CommandLine::Mode::kTrace, "--trace", line);
     }},
    {"", "--report", "[OPTIONS] [FILE]",
     "print the availability, loss, response times, outages, loss episodes and gaps of the "
     "history file (FILE, or the one the window uses), per run and in all",
     [](const std::vector<std::string>& rest, CommandLine& line) {
       TakeQuery(rest, CommandLine::Mode::kReport, line);
     }},
    {"", "--export", "[OPTIONS] [FILE]",
     "print every measurement as CSV or JSON lines: run, ISO date-time with its UTC offset, "
     "loss %, response ms (empty when nothing was answered), answered requests out of 24",
     [](const std::vector<std::string>& rest, CommandLine& line) {
       TakeQuery(rest, CommandLine::Mode::kExport, line);
     }},
    {"-h", "--help", "", "display this help and exit",
     [](const std::vector<std::string>&, CommandLine& line) {
       line.mode = CommandLine::Mode::kHelp;
     }},
    {"", "--version", "", "output version information and exit",
     [](const std::vector<std::string>&, CommandLine& line) {
       line.mode = CommandLine::Mode::kVersion;
     }},
}};

namespace {

// The toolkit's standard options: those that take a value, then those that do not.
constexpr std::array<std::string_view, 16> kToolkitValued = {
    "platform", "platformpluginpath", "platformtheme", "plugin",      "qwindowgeometry",
    "geometry", "qwindowtitle",       "title",         "qwindowicon", "icon",
    "style",    "stylesheet",         "session",       "display",     "name",
    "visual"};
constexpr std::array<std::string_view, 7> kToolkitFlags = {
    "reverse", "widgetcount", "nograb", "dograb", "sync", "testability", "qmljsdebugger"};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::string_view n : names) {
    if (n == name) return true;
  }
  return false;
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string joined;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) joined += ' ';
    joined += arguments[i];
  }
  return std::string(TrimBlanks(joined));
}

std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& arguments) {
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view word = arguments[i];
    if (word.size() < 2 || word[0] != '-') {
      kept.push_back(arguments[i]);
      continue;
    }
    // The toolkit takes its options with one dash or two, and a value after '=' or as the next
    // word.
    word.remove_prefix(word.starts_with("--") ? 2 : 1);
    const std::size_t equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    if (Contains(kToolkitValued, name)) {
      if (equals == std::string_view::npos) ++i;  // its value
      continue;
    }
    if (Contains(kToolkitFlags, name)) continue;
    kept.push_back(arguments[i]);
  }
  return kept;
}

std::optional<MetricsAddress> ParseMetricsAddress(std::string_view text) {
  MetricsAddress where;
  std::string_view port = text;
  if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    std::string_view address = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.starts_with('[') && address.ends_with(']')) {
      address = address.substr(1, address.size() - 2);
    } else if (address.find(':') != std::string_view::npos) {
      return std::nullopt;  // an IPv6 address goes in brackets
    }
    if (address.empty()) return std::nullopt;
    where.address = std::string(address);
  }
  std::string ignored;
  if (!TakeWhole(port, 1, 65535, "a port", where.port, ignored)) return std::nullopt;
  return where;
}

CommandLine ParseCommandLine(const std::vector<std::string>& all_arguments) {
  std::vector<std::string> arguments = WithoutToolkitOptions(all_arguments);
  CommandLine line;
  // The options that come before the host, or before --report and --export: --history FILE (the
  // file of the window, or of the report), the metrics and the headless mode.
  std::string history;
  std::optional<MetricsAddress> metrics_listen;
  std::string metrics_file;
  bool headless = false;
  bool quiet = false;
  bool measuring_options = false;  // an option that only a measuring program takes
  auto usage_error = [&line](std::string error) {
    line = CommandLine{};
    line.mode = CommandLine::Mode::kUsageError;
    line.error = std::move(error);
    return line;
  };
  while (!arguments.empty()) {
    const std::string first = arguments.front();
    if (first == "--headless" || first == "--quiet") {
      (first == "--headless" ? headless : quiet) = true;
      arguments.erase(arguments.begin());
      continue;
    }
    std::string name;
    for (const std::string_view valued : {"--history", "--metrics-listen", "--metrics-file"}) {
      if (first == valued || first.starts_with(std::string(valued) + "=")) name = valued;
    }
    if (name.empty()) break;
    std::string value;
    if (first != name) {
      value = first.substr(name.size() + 1);
      arguments.erase(arguments.begin());
    } else if (arguments.size() > 1) {
      value = arguments[1];
      arguments.erase(arguments.begin(), arguments.begin() + 2);
    } else {
      arguments.clear();
    }
    if (name == "--history") {
      if (value.empty()) return usage_error("--history needs a file");
      history = value;
    } else if (name == "--metrics-file") {
      if (value.empty()) return usage_error("--metrics-file needs a file");
      metrics_file = value;
      measuring_options = true;
    } else {
      metrics_listen = ParseMetricsAddress(value);
      if (!metrics_listen) {
        return usage_error("--metrics-listen needs PORT, ADDRESS:PORT or [IPV6]:PORT: '" + value +
                           "'");
      }
      measuring_options = true;
    }
  }
  if (!arguments.empty()) {
    const std::string& first = arguments.front();
    bool found = false;
    for (const Option& option : kOptions) {
      if (first == option.name || (!option.short_name.empty() && first == option.short_name)) {
        option.handle({arguments.begin() + 1, arguments.end()}, line);
        found = true;
        break;
      }
    }
    if (!found && first.size() > 1 && first[0] == '-') {
      return usage_error("unrecognized option '" + first + "'");
    }
    if (!found) line.host = JoinArguments(arguments);
  }
  if (line.mode == CommandLine::Mode::kUsageError) return line;
  const bool measuring = line.mode == CommandLine::Mode::kWindow;
  if ((headless || quiet || measuring_options) && !measuring) {
    return usage_error(headless || quiet ? "--headless and --quiet measure a HOST: no other mode"
                                         : "--metrics-listen and --metrics-file go with a window "
                                           "or --headless");
  }
  if (quiet && !headless) return usage_error("--quiet goes with --headless");
  if (headless) {
    if (line.host.empty()) return usage_error("--headless needs a host");
    line.mode = CommandLine::Mode::kHeadless;
  }
  line.metrics_listen = metrics_listen;
  line.metrics_file = metrics_file;
  line.quiet = quiet;
  if (!history.empty()) {
    if (line.mode == CommandLine::Mode::kReport || line.mode == CommandLine::Mode::kExport) {
      line.query.files.insert(line.query.files.begin(), history);
      if (line.mode == CommandLine::Mode::kExport && line.query.files.size() > 1) {
        return usage_error("--export reads one history file: '" + line.query.files[1] + "'");
      }
    }
    line.history = history;
  }
  return line;
}

}  // namespace trelvane
