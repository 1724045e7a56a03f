#include "ui/program.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmapCache>
#include <QTimer>
#include <QTranslator>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "history/history_format.h"
#include "history/history_location.h"
#include "measure/numbers.h"
#include "probe/pinger.h"
#include "probe/system_echo_service.h"
#include "service/alert_settings.h"
#include "service/echo_runner.h"
#include "service/headless.h"
#include "service/history_lock.h"
#include "ui/form1.h"
#include "ui/systray.h"

namespace trelvane {
namespace {

// With TRELVANE_STARTUP_TRACE set, each step of the start-up is told on stderr with the
// milliseconds since the program began (the desktop benchmark reads them).
class StartupTrace {
 public:
  StartupTrace() : on_(std::getenv("TRELVANE_STARTUP_TRACE") != nullptr) {}
  void Step(const char* step) const {
    if (!on_) return;
    const std::chrono::duration<double, std::milli> since =
        std::chrono::steady_clock::now() - start_;
    std::fprintf(stderr, "trelvane: start-up: %s %.1f\n", step, since.count());
  }

 private:
  bool on_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// No display could be opened: one line that says what works without one.
int NoDisplay() {
  std::fputs(
      "trelvane: no display to open the window on; without one, measure with "
      "\"trelvane --headless HOST\", send one burst with \"trelvane --burst HOST\", or read "
      "the history with \"trelvane --report\"\n",
      stderr);
  return 1;
}

// Whether a window can be tried: a display named, or a platform chosen (offscreen, vnc, ...).
bool DisplayReachable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Qt's messages while it opens the display: kept, and told only when it did (a display that
// cannot be opened is told in one line instead of Qt's several).
std::vector<std::pair<QtMsgType, QString>> opening_messages;

void HoldWhileOpening(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) std::_Exit(NoDisplay());
  opening_messages.emplace_back(type, message);
}

void TellHeldMessages() {
  qInstallMessageHandler(nullptr);
  for (const auto& [type, message] : opening_messages) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  }
  opening_messages.clear();
}

}  // namespace

int RunProgram(int argc, char** argv) {
  const StartupTrace trace;
  // Dates and times are written with the separators of the user's regional settings.
  std::setlocale(LC_TIME, "");
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const CommandLine line = ParseCommandLine(arguments);
  if (const std::optional<int> status = RunTerminalCommand(line)) return *status;
  if (line.mode == CommandLine::Mode::kHeadless) return RunHeadless(argc, argv, line);
  if (!DisplayReachable()) return NoDisplay();
  // Qt ends the program when it cannot open the display after all (an X server that refuses):
  // the same one line, and status 1.
  qInstallMessageHandler(HoldWhileOpening);
  QApplication application(argc, argv);
  TellHeldMessages();
  trace.Step("Qt and its platform");
  // Qt keeps the pictures it scales and draws for 30 s and then wakes to let them go, after every
  // repaint; this small window draws its few pictures again instead, and sleeps between bursts.
  QPixmapCache::setCacheLimit(0);
  application.setApplicationName(QString::fromUtf8(kProgramName.data(), kProgramName.size()));
  application.setApplicationVersion(
      QString::fromUtf8(kProgramVersion.data(), kProgramVersion.size()));
  // Every text of the window is French: so are Qt's own (the file dialog's buttons), whatever the
  // user's locale, where Debian's qt6-translations-l10n is installed.
  QTranslator qt_french;
  if (qt_french.load(QLocale(QLocale::French, QLocale::France), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qt_french);
  }
  trace.Step("Qt's French texts");
  // The window hidden in the tray is no reason to end; closing it is.
  application.setQuitOnLastWindowClosed(false);

  // --history FILE, else the default place (whose private folder is made here: the lock file
  // stands beside the history from the start).
  const std::string history_path =
      line.history.empty() ? SystemHistoryLocation().path : line.history;
  if (line.history.empty()) MakeFolderFor(history_path);
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
              << lock.HolderPid()
              << "); stop that run first, or give each window a history file of its own: "
                 "trelvane --history FILE HOST\n";
    return kHistoryInUseExitStatus;
  }

  trace.Step("history lock");
  const SystemClock clock;
  ThreadedEchoRunner echo(MakeSystemEchoService());
  Form1 form(clock, echo, nullptr, history_path, Form1::Controls::kLater);
  if (line.host.empty()) {
    // The window that will come up anyway is sent to the desktop now; its controls, settings and
    // history are made and read while it is mapped, before its first paint.
    form.show();
    QGuiApplication::sync();
    trace.Step("window sent to the screen");
  }
  form.BuildControls();
  TraceTaker traces(MakeSystemEchoService(), history_path);
  form.UseTraces(&traces);
  // The figures for Prometheus, when asked for: the window's cycle feeds them.
  std::optional<MetricsOutput> metrics;
  if (line.metrics_listen || !line.metrics_file.empty()) {
    metrics.emplace(line.host);
    std::string error;
    if (!metrics->Start(line, error)) {
      std::cerr << "trelvane: " << error << "\n";
      return 1;
    }
    Metrics& figures = metrics->metrics();
    form.WatchCycle(
        {[&figures](const PingResult& reply) { figures.AddReply(reply.text, reply.address); },
         [&metrics, &form](const Measurement& m, LinkCondition condition) {
           // The host the run measures: the one typed before Start.
           metrics->metrics().SetTarget(form.shown_host().toStdString());
           metrics->metrics().AddMeasurement(
               ParseWholeNumber(m.loss).value_or(100), ParseWholeNumber(m.response).value_or(0),
               static_cast<std::int64_t>(std::time(nullptr)), condition);
           metrics->Published();
         },
         [&figures] { figures.DropBurst(); }});
  }
  QObject::connect(&form, &Form1::Closed, &application, &QApplication::quit);
  QObject::connect(&lock, &HistoryLock::ShowRequested, &form, &Form1::BringToFront);
  trace.Step("controls built");
  form.UseAlertSettings(AlertSettingsPath());
  form.Load(QString::fromStdString(line.host));
  trace.Step("settings, history and host");
  if (!form.csys->intray()) form.show();
  trace.Step("shown");
  QTimer::singleShot(0, [&trace] { trace.Step("event loop"); });
  const int status = application.exec();
  // End at once: a request still waiting for its timeout is not waited for.
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace trelvane
