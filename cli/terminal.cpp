#include "cli/terminal.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "history/history_location.h"
#include "history/history_report.h"
#include "history/history_survey.h"
#include "measure/burst_cycle.h"
#include "probe/system_echo_service.h"
#include "probe/trace.h"

namespace trelvane {
namespace {

int RunBurstCommand(const std::string& host) {
  const std::unique_ptr<EchoService> service = MakeSystemEchoService();
  const Pinger pinger(*service);
  const SystemClock clock;
  const BurstOutcome outcome =
      RunBurst([&] { return pinger.PingResultFor(host); }, clock,
               [](std::string_view result) { std::cout << result << std::endl; });
  std::cout << MeasurementLine(outcome.measurement) << std::endl;
  if (outcome.not_permitted) return kNotPermittedExitStatus;
  if (outcome.no_such_host) {
    std::cerr << "trelvane: " << host
              << ": no such host (the resolver says the name does not exist)" << std::endl;
    return kNoSuchHostExitStatus;
  }
  return 0;
}

int RunTraceCommand(const std::string& host) {
  const std::unique_ptr<EchoService> service = MakeSystemEchoService();
  constexpr int kMaxHops = 30;
  const TraceResult trace = TraceHost(*service, host, kMaxHops);
  if (trace.no_such_host) {
    std::cerr << "trelvane: " << host
              << ": no such host (the resolver says the name does not exist)" << std::endl;
    return kNoSuchHostExitStatus;
  }
  if (trace.address.empty()) {
    std::cerr << "trelvane: " << host << ": no address (the resolver did not answer)" << std::endl;
    return 0;
  }
  if (trace.not_permitted) return kNotPermittedExitStatus;
  std::cout << "trace to " << host << " (" << trace.address << "), " << kMaxHops << " hops max"
            << std::endl;
  for (const TraceHop& hop : trace.hops) std::cout << HopLine(hop) << std::endl;
  return 0;
}

// After an empty report or export: a file that is no history at all, or a run key that no run
// has, is said (exit 1); an empty period is not an error.
std::optional<int> ExplainNothingFound(const std::string& path, const ReportOptions& options) {
  HistorySurvey survey;
  FileError error;
  if (!SurveyHistory(path, survey, error, options.block_bytes, options.max_line_bytes)) {
    return std::nullopt;  // it was read a moment ago: the report stands as written
  }
  if (!survey.holds_history) {
    std::fprintf(stderr, "trelvane: %s n'est pas un historique Trelvane\n", path.c_str());
    return 1;
  }
  if (!options.run || std::find(survey.run_keys.begin(), survey.run_keys.end(), *options.run) !=
                          survey.run_keys.end()) {
    return std::nullopt;
  }
  std::fprintf(stderr, "trelvane: no run of %s has the key \"%s\"", path.c_str(),
               options.run->c_str());
  const std::vector<std::string> closest = ClosestKeys(survey.run_keys, *options.run);
  for (std::size_t i = 0; i < closest.size(); ++i) {
    std::fprintf(stderr, "%s\"%s\"", i == 0 ? "; the closest: " : ", ", closest[i].c_str());
  }
  std::fputs(closest.empty() ? " (it holds no run)\n" : "\n", stderr);
  return 1;
}

// --report and --export: the history read only, never locked, never written.
int RunHistoryCommand(const CommandLine& line) {
  const HistoryQuery& query = line.query;
  const std::vector<std::string> paths =
      query.files.empty() ? std::vector<std::string>{SystemHistoryLocation().path} : query.files;
  FileError error;
  if (line.mode == CommandLine::Mode::kExport) {
    std::size_t rows = 0;
    if (!ExportMeasurements(paths[0], query.options, query.format, stdout, error, &rows)) {
      std::fprintf(stderr, "trelvane: cannot read %s: %s\n", paths[0].c_str(),
                   DescribeError(error).c_str());
      return 1;
    }
    return rows == 0 ? ExplainNothingFound(paths[0], query.options).value_or(0) : 0;
  }
  // Each file's hosts side by side, in the order of the files.
  std::vector<HostReport> reports;
  for (const std::string& path : paths) {
    std::vector<HostReport> of_file;
    if (!BuildHostReports(path, query.options, of_file, error)) {
      std::fprintf(stderr, "trelvane: cannot read %s: %s\n", path.c_str(),
                   DescribeError(error).c_str());
      return 1;
    }
    if (of_file.size() == 1 && of_file[0].report.runs.empty()) {
      if (const std::optional<int> status = ExplainNothingFound(path, query.options)) {
        return *status;
      }
    }
    // The traces taken during the outages, from the traces file beside the history.
    for (HostReport& report : of_file) {
      AttachTraces(report.report, path);
      reports.push_back(std::move(report));
    }
  }
  WriteReports(reports, query.options, query.format, stdout);
  return 0;
}

}  // namespace

BurstOutcome RunBurst(const std::function<PingResult()>& ping, const Clock& clock,
                      const std::function<void(std::string_view)>& on_result) {
  constexpr unsigned kTheOnlyRun = 0;
  BurstCycle cycle(clock);
  cycle.Begin(kTheOnlyRun);
  BurstOutcome outcome;
  do {
    const PingResult result = ping();
    on_result(result.text);
    outcome.measurement = cycle.Count(kTheOnlyRun, result).value();
  } while (cycle.Advance());
  outcome.not_permitted = cycle.not_permitted();
  outcome.no_such_host = cycle.no_such_host();
  return outcome;
}

std::optional<int> RunTerminalCommand(const CommandLine& line) {
  switch (line.mode) {
    case CommandLine::Mode::kHelp:
      std::cout << UsageText(DescribeLocation(SystemHistoryLocation()));
      return 0;
    case CommandLine::Mode::kVersion:
      std::cout << kProgramName << ' ' << kProgramVersion << '\n';
      return 0;
    case CommandLine::Mode::kUsageError:
      std::cerr << "trelvane: " << line.error << "\n"
                << "Essayez \u00ab trelvane --help \u00bb.\n";
      return kUsageExitStatus;
    case CommandLine::Mode::kBurst:
      return RunBurstCommand(line.host);
    case CommandLine::Mode::kTrace:
      return RunTraceCommand(line.host);
    case CommandLine::Mode::kReport:
    case CommandLine::Mode::kExport:
      return RunHistoryCommand(line);
    case CommandLine::Mode::kWindow:
    case CommandLine::Mode::kHeadless:
      break;
  }
  return std::nullopt;
}

}  // namespace trelvane
