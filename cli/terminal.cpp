#include "cli/terminal.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "history/history_location.h"
#include "history/history_report.h"
#include "measure/burst_cycle.h"
#include "probe/system_echo_service.h"

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

// --report and --export: the history read only, never locked, never written.
int RunHistoryCommand(const CommandLine& line) {
  const HistoryQuery& query = line.query;
  const std::string path = query.file.empty() ? SystemHistoryLocation().path : query.file;
  FileError error;
  bool ok = false;
  if (line.mode == CommandLine::Mode::kExport) {
    ok = ExportMeasurements(path, query.options, stdout, error);
  } else {
    Report report;
    ok = BuildReport(path, query.options, report, error);
    if (ok) WriteReport(report, query.options, path, query.format, stdout);
  }
  if (!ok) {
    std::fprintf(stderr, "trelvane: cannot read %s: %s\n", path.c_str(),
                 DescribeError(error).c_str());
    return 1;
  }
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
      std::cerr << "trelvane: " << line.error << "\n" << UsageText();
      return kUsageExitStatus;
    case CommandLine::Mode::kBurst:
      return RunBurstCommand(line.host);
    case CommandLine::Mode::kReport:
    case CommandLine::Mode::kExport:
      return RunHistoryCommand(line);
    case CommandLine::Mode::kWindow:
      break;
  }
  return std::nullopt;
}

}  // namespace trelvane
