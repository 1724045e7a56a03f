#include "ui/program.h"

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "history/history_format.h"
#include "history/history_location.h"
#include "history/history_report.h"
#include "measure/burst_command.h"
#include "measure/command_line.h"
#include "probe/pinger.h"
#include "probe/system_echo_service.h"
#include "ui/echo_runner.h"
#include "ui/form1.h"
#include "ui/history_lock.h"
#include "ui/systray.h"

namespace trelvane {
namespace {

int RunBurstCommand(const std::string& host) {
  const std::unique_ptr<EchoService> service = MakeSystemEchoService();
  const Pinger pinger(*service);
  const SystemClock clock;
  bool not_permitted = false;
  const Measurement measurement = RunBurst(
      [&] {
        PingResult result = pinger.Probe(host);
        not_permitted = not_permitted || result.not_permitted;
        return result.text;
      },
      clock, [](std::string_view result) { std::cout << result << std::endl; });
  std::cout << MeasurementLine(measurement) << std::endl;
  return not_permitted ? kNotPermittedExitStatus : 0;
}

// --report and --export: the history read only, never locked, never written.
int RunHistoryCommand(const CommandLine& line) {
  const HistoryQuery& query = line.query;
  const std::string path = query.file.empty() ? SystemHistoryLocation().path : query.file;
  ReportOptions options;
  options.since = query.since;
  options.until = query.until;
  options.run = query.run;
  options.loss_threshold = query.loss_threshold;
  FileError error;
  bool ok = false;
  if (line.mode == CommandLine::Mode::kExport) {
    ok = ExportMeasurements(path, options, stdout, error);
  } else {
    Report report;
    ok = BuildReport(path, options, report, error);
    const ReportFormat format = query.format == "json"  ? ReportFormat::kJson
                                : query.format == "csv" ? ReportFormat::kCsv
                                                        : ReportFormat::kText;
    if (ok) WriteReport(report, options, path, format, stdout);
  }
  if (!ok) {
    std::fprintf(stderr, "trelvane: cannot read %s: %s\n", path.c_str(),
                 DescribeError(error).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int RunProgram(int argc, char** argv) {
  // Dates and times are written with the separators of the user's regional settings.
  std::setlocale(LC_TIME, "");
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const CommandLine line = ParseCommandLine(arguments);
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
  QApplication application(argc, argv);
  application.setApplicationName(QString::fromUtf8(kProgramName.data(), kProgramName.size()));
  application.setApplicationVersion(
      QString::fromUtf8(kProgramVersion.data(), kProgramVersion.size()));
  // The window hidden in the tray is no reason to end; closing it is.
  application.setQuitOnLastWindowClosed(false);

  const HistoryLocation location = SystemHistoryLocation();
  const std::string& history_path = location.path;
  MakeFolderFor(history_path);  // the lock file stands beside the history, from the start
  HistoryLock lock(QString::fromStdString(history_path));
  if (lock.TryLock() == HistoryLock::State::kHeldElsewhere) {
    if (line.host.empty()) {
      // Started again without a host: the running window comes to the front instead.
      if (!lock.AskHolderToShow()) {
        std::cerr << "trelvane: " << history_path << " is in use by a running window (process "
                  << lock.HolderPid() << "), which did not answer\n";
      }
      return 0;
    }
    std::cerr << "trelvane: " << history_path << " is in use by a running window (process "
              << lock.HolderPid() << "); stop that run first, or start from another folder\n";
    return kHistoryInUseExitStatus;
  }

  const SystemClock clock;
  ThreadedEchoRunner echo(MakeSystemEchoService());
  Form1 form(clock, echo, nullptr, history_path);
  QObject::connect(&form, &Form1::Closed, &application, &QApplication::quit);
  QObject::connect(&lock, &HistoryLock::ShowRequested, &form, &Form1::BringToFront);
  form.Load(QString::fromStdString(line.host));
  if (!form.csys->intray()) form.show();
  const int status = application.exec();
  // End at once: a request still waiting for its timeout is not waited for.
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace trelvane
