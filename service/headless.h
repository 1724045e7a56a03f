#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "alert/link_state.h"
#include "cli/command_line.h"
#include "history/history_file.h"
#include "measure/burst_cycle.h"
#include "measure/clock.h"
#include "metrics/metrics.h"
#include "service/burst_trace.h"
#include "service/echo_runner.h"
#include "service/trace_taker.h"

namespace trelvane {

class MetricsServer;

// The figures for Prometheus of a measuring program, window or headless: served at
// --metrics-listen and written to --metrics-file after each measurement.
// The server runs on a thread of its own and hands out the texts made at the last measurement:
// scrapers, however many, never hold up the measurement cycle's replies.
class MetricsOutput {
 public:
  explicit MetricsOutput(std::string target);
  ~MetricsOutput();
  // Starts what the command line asks for; false with `error` when the address cannot be taken.
  bool Start(const CommandLine& line, std::string& error);
  Metrics& metrics() { return metrics_; }
  // After a measurement: the texts served are made again, and the file, when asked for, written
  // again (a failure is told on stderr once until it works again).
  void Published();

 private:
  struct Texts {
    std::mutex mutex;
    std::string prometheus;
    std::string open_metrics;
  };
  Metrics metrics_;
  std::shared_ptr<Texts> texts_ = std::make_shared<Texts>();
  QThread thread_;
  QObject* anchor_ = nullptr;        // lives on thread_: what runs there is queued to it
  MetricsServer* server_ = nullptr;  // made, used and deleted on thread_
  std::string file_;
  bool file_failed_ = false;
};

// The measurement cycle without a window: the first burst a second after Start, then one every
// minute, each measurement appended to the history, given to the metrics and told on stdout
// (unless quiet); the link's condition as the window's alerts follow it, its changes on stderr;
// a trace taken in the background when it goes down or degraded.
class HeadlessRun final : public QObject {
  Q_OBJECT

 public:
  HeadlessRun(const Clock& clock, EchoRunner& echo, HistoryFile& history, std::string host,
              bool quiet, MetricsOutput& metrics, TraceTaker& traces,
              const AlertSettings& alerts = {});
  // Writes the start-up marker and the run's header, and starts the timer.
  void Start();
  // Ends the run: a burst under way is dropped, nothing of it written.
  void Stop();

 private:
  void Tick();
  void SendNextRequest();
  void OnReply(unsigned generation, const PingResult& reply);
  void FinishBurst(const Measurement& measurement);
  void Write(const WriteResult& result);

  const Clock& clock_;
  EchoRunner& echo_;
  HistoryFile& history_;
  std::string host_;
  bool quiet_;
  MetricsOutput& metrics_;
  TraceTaker& traces_;
  std::string run_key_;  // the run's header's key, for the traces it takes
  QTimer timer_;
  BurstCycle burst_;
  BurstTrace burst_trace_;
  unsigned generation_ = 1;
  LinkState link_;
  std::optional<Measurement> so_far_;
  bool write_failed_ = false;  // told on stderr once
};

// The whole headless program: the lock, the run, the metrics, until SIGTERM or SIGINT. Returns
// the exit status.
int RunHeadless(int argc, char** argv, const CommandLine& line);

}  // namespace trelvane
