#include "service/headless.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "history/history_format.h"
#include "history/history_location.h"
#include "measure/numbers.h"
#include "probe/system_echo_service.h"
#include "service/alert_settings.h"
#include "service/history_lock.h"
#include "service/metrics_server.h"
#include "service/tick_keeper.h"

namespace trelvane {
namespace {

// The metrics server's thread's niceness, above the program's.
constexpr int kServerNice = 10;

// SIGTERM and SIGINT, turned into an event of the loop through a socket pair.
int signal_socket[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signal_socket[1], &byte, 1);
}

}  // namespace

MetricsOutput::MetricsOutput(std::string target) { metrics_.SetTarget(std::move(target)); }

MetricsOutput::~MetricsOutput() {
  if (anchor_ == nullptr) return;
  QMetaObject::invokeMethod(
      anchor_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
  anchor_->deleteLater();
  thread_.quit();
  thread_.wait();
}

bool MetricsOutput::Start(const CommandLine& line, std::string& error) {
  file_ = line.metrics_file;
  Published();  // the texts, and the file, are there from the start
  if (!line.metrics_listen) return true;
  thread_.setObjectName("metrics");
  thread_.start();
  anchor_ = new QObject;
  anchor_->moveToThread(&thread_);
  bool listening = false;
  std::shared_ptr<Texts> texts = texts_;
  QMetaObject::invokeMethod(
      anchor_,
      [&] {
        // Scrapers, however many, take the processor after the measurement cycle: this thread
        // runs at a lower priority than the rest of the program.
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kServerNice);
        server_ = new MetricsServer([texts](bool open_metrics) {
          const std::lock_guard<std::mutex> lock(texts->mutex);
          return open_metrics ? texts->open_metrics : texts->prometheus;
        });
        listening = server_->Listen(*line.metrics_listen, error);
        if (!listening) {
          delete server_;
          server_ = nullptr;
        }
      },
      Qt::BlockingQueuedConnection);
  if (!listening) {
    error = "cannot serve metrics at " + line.metrics_listen->address + ":" +
            std::to_string(line.metrics_listen->port) + ": " + error;
  }
  return listening;
}

void MetricsOutput::Published() {
  std::string prometheus = metrics_.Exposition(false, kProgramVersion);
  std::string open_metrics = metrics_.Exposition(true, kProgramVersion);
  if (!file_.empty()) {
    const std::optional<std::string> error = WriteFileWhole(file_, prometheus);
    if (error && !file_failed_) {
      std::fprintf(stderr, "trelvane: cannot write %s: %s\n", file_.c_str(), error->c_str());
    }
    file_failed_ = error.has_value();
  }
  const std::lock_guard<std::mutex> lock(texts_->mutex);
  texts_->prometheus = std::move(prometheus);
  texts_->open_metrics = std::move(open_metrics);
}

HeadlessRun::HeadlessRun(const Clock& clock, EchoRunner& echo, HistoryFile& history,
                         std::string host, bool quiet, MetricsOutput& metrics, TraceTaker& traces,
                         const AlertSettings& alerts)
    : clock_(clock),
      echo_(echo),
      history_(history),
      host_(std::move(host)),
      quiet_(quiet),
      metrics_(metrics),
      traces_(traces),
      burst_(clock),
      link_(alerts) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &HeadlessRun::Tick);
}

void HeadlessRun::Start() {
  Write(history_.Append(StartupMarker(clock_.Now(), clock_.separators())));
  const std::string header = RunHeader(clock_.Now(), clock_.separators());
  run_key_ = std::string(RunKey(header));
  Write(history_.AppendRunHeader(header, host_));
  link_.Reset();
  timer_.setInterval(kFirstTickMs);
  timer_.start();
  KeepOnTime(timer_);
}

void HeadlessRun::Stop() {
  ++generation_;
  burst_.Drop();
  metrics_.metrics().DropBurst();
  timer_.stop();
}

void HeadlessRun::Tick() {
  // A burst still under way (a very slow name lookup): never two at once.
  if (burst_.running(generation_)) return;
  if (timer_.interval() != kTickMs) timer_.setInterval(kTickMs);
  KeepOnTime(timer_);
  burst_trace_.Began();
  burst_.Begin(generation_);
  SendNextRequest();
}

void HeadlessRun::SendNextRequest() {
  const unsigned generation = generation_;
  QPointer<HeadlessRun> self(this);
  echo_.Ping(host_, [self, generation](const PingResult& result) {
    if (self) self->OnReply(generation, result);
  });
}

void HeadlessRun::OnReply(unsigned generation, const PingResult& reply) {
  const std::optional<Measurement> so_far = burst_.Count(generation, reply);
  if (!so_far) return;
  metrics_.metrics().AddReply(reply.text, reply.address);
  if (burst_.Advance()) {
    SendNextRequest();
  } else {
    FinishBurst(*so_far);
  }
}

void HeadlessRun::FinishBurst(const Measurement& measurement) {
  burst_trace_.Ended();
  const std::string line = MeasurementLine(measurement);
  Write(history_.AppendMeasurement(line));
  if (!quiet_) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (burst_.not_permitted()) {
    std::fprintf(stderr,
                 "trelvane: no ICMP socket may be opened; allow it with sysctl -w "
                 "net.ipv4.ping_group_range=\"0 2147483647\"\n");
  }
  const bool no_such_host = burst_.no_such_host();
  if (no_such_host) std::fprintf(stderr, "trelvane: %s: no such host\n", host_.c_str());
  const LinkCondition before = link_.condition();
  if (const std::optional<LinkEvent> event = link_.Add(measurement, no_such_host)) {
    const AlertText text = AlertTextOf(*event, host_);
    std::fprintf(stderr, "trelvane: %s. %s\n", text.summary.c_str(), text.body.c_str());
  }
  // Where it broke: a trace as the link goes down, or degraded.
  const LinkCondition now = link_.condition();
  if (now != before && (now == LinkCondition::kDown || now == LinkCondition::kDegraded)) {
    traces_.Take(host_, measurement.stamp, run_key_, [](const StoredTrace& trace) {
      const std::optional<StoredTrace::Hop> hop = trace.LastAnswering();
      if (hop) {
        std::fprintf(stderr, "trelvane: trace: dernier saut joignable : %d \u2014 %s\n",
                     hop->number, hop->address.c_str());
      } else {
        std::fprintf(stderr, "trelvane: trace: aucun saut joignable\n");
      }
    });
  }
  metrics_.metrics().AddMeasurement(ParseWholeNumber(measurement.loss).value_or(100),
                                    ParseWholeNumber(measurement.response).value_or(0),
                                    static_cast<std::int64_t>(std::time(nullptr)),
                                    link_.condition());
  metrics_.Published();
}

void HeadlessRun::Write(const WriteResult& result) {
  if (result.ok) {
    write_failed_ = false;
    return;
  }
  // The run goes on; the figures still reach stdout and the metrics.
  if (!write_failed_) {
    std::fprintf(stderr, "trelvane: cannot write %s: %s\n", history_.path().c_str(),
                 result.error.c_str());
  }
  write_failed_ = true;
}

namespace {

// The run, with every object it makes gone when it returns: the lock file first of all.
int RunHeadlessIn(QCoreApplication& application, const CommandLine& line) {
  const std::string history_path =
      line.history.empty() ? SystemHistoryLocation().path : line.history;
  if (line.history.empty()) MakeFolderFor(history_path);
  HistoryLock lock(QString::fromStdString(history_path));
  if (lock.TryLock() == HistoryLock::State::kHeldElsewhere) {
    std::fprintf(stderr,
                 "trelvane: %s is in use by a running program (process %lld); give each its own "
                 "history file: trelvane --headless --history FILE HOST\n",
                 history_path.c_str(), static_cast<long long>(lock.HolderPid()));
    return kHistoryInUseExitStatus;
  }
  MetricsOutput metrics(line.host);
  std::string error;
  if (!metrics.Start(line, error)) {
    std::fprintf(stderr, "trelvane: %s\n", error.c_str());
    return 1;
  }
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_socket) != 0) {
    std::perror("trelvane: socketpair");
    return 1;
  }
  QSocketNotifier stop_signals(signal_socket[0], QSocketNotifier::Read);
  QObject::connect(&stop_signals, &QSocketNotifier::activated, &application,
                   &QCoreApplication::quit);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // A reader of stdout that goes away (trelvane --headless HOST | head) ends nothing: the lines
  // are lost, the measuring goes on.
  std::signal(SIGPIPE, SIG_IGN);

  const SystemClock clock;
  ThreadedEchoRunner echo(MakeSystemEchoService());
  HistoryFile history(history_path);
  TraceTaker traces(MakeSystemEchoService(), history_path);
  HeadlessRun run(clock, echo, history, line.host, line.quiet, metrics, traces,
                  LoadAlertSettings(AlertSettingsPath()));
  run.Start();
  application.exec();
  run.Stop();
  return 0;
}

}  // namespace

int RunHeadless(int argc, char** argv, const CommandLine& line) {
  QCoreApplication application(argc, argv);
  const int status = RunHeadlessIn(application, line);
  // End at once: a request or a trace still waiting for its timeout is not waited for.
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace trelvane
