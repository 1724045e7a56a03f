#pragma once

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "alert/link_state.h"
#include "cli/command_line.h"
#include "history/history_file.h"
#include "measure/burst_cycle.h"
#include "measure/clock.h"
#include "metrics/metrics.h"
#include "service/echo_runner.h"

namespace trelvane {

class MetricsServer;

// The figures for Prometheus of a measuring program, window or headless: served at
// --metrics-listen and written to --metrics-file after each measurement.
class MetricsOutput {
 public:
  explicit MetricsOutput(std::string target);
  ~MetricsOutput();
  // Starts what the command line asks for; false with `error` when the address cannot be taken.
  bool Start(const CommandLine& line, std::string& error);
  Metrics& metrics() { return metrics_; }
  // After a measurement: the file, when asked for, is written again (a failure is told on stderr
  // once until it works again).
  void Published();

 private:
  Metrics metrics_;
  std::unique_ptr<MetricsServer> server_;
  std::string file_;
  bool file_failed_ = false;
};

// The measurement cycle without a window: the first burst a second after Start, then one every
// minute, each measurement appended to the history, given to the metrics and told on stdout
// (unless quiet); the link's condition as the window's alerts follow it, its changes on stderr.
class HeadlessRun final : public QObject {
  Q_OBJECT

 public:
  HeadlessRun(const Clock& clock, EchoRunner& echo, HistoryFile& history, std::string host,
              bool quiet, MetricsOutput& metrics);
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
  QTimer timer_;
  BurstCycle burst_;
  unsigned generation_ = 1;
  LinkState link_;
  std::optional<Measurement> so_far_;
  bool write_failed_ = false;  // told on stderr once
};

// The whole headless program: the lock, the run, the metrics, until SIGTERM or SIGINT. Returns
// the exit status.
int RunHeadless(int argc, char** argv, const CommandLine& line);

}  // namespace trelvane
