#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "alert/link_state.h"
#include "graph/graph.h"
#include "history/history_file.h"
#include "history/history_format.h"
#include "measure/burst_cycle.h"
#include "measure/clock.h"
#include "measure/series.h"
#include "probe/pinger.h"
#include "service/burst_trace.h"
#include "service/trace_taker.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace SysTrayCtl {
class cSysTray;
}

namespace trelvane {

class EchoRunner;
class LinkAlerts;
class TrayMenu;
class GraphView;

inline constexpr const char* kDesignedCaption = "Trelvane v0.4 par vElUdrak";
// The host filled in when the command line names none.
inline constexpr const char* kDefaultHost = "www.wikipedia.org";

// The main window. It owns the controls (each with its designed name as objectName), runs start-up,
// Start and Stop, and the measurement cycle of Timer1; the echo requests run through `echo`, off
// the UI thread, so the window answers while a request waits.
class Form1 : public QWidget {
  Q_OBJECT

 public:
  // When the controls are made: with the window, or by BuildControls, which the program calls
  // once the bare window is on its way to the screen, so that the desktop maps it while the
  // controls are built (they are all there before its first paint).
  enum class Controls { kWithWindow, kLater };

  // The history goes to `history_path` (a bare "trelvane.txt", relative to the working directory,
  // unless the caller names the file the history location chose).
  Form1(const Clock& clock, EchoRunner& echo, QWidget* parent = nullptr,
        std::string history_path = std::string(kHistoryFileName),
        Controls controls = Controls::kWithWindow);
  ~Form1() override;

  void BuildControls();

  // Start-up: performed once, before the window is first shown. `command_line` is the whole
  // argument text; not empty, it is the target host and a run starts at once.
  void Load(const QString& command_line);

  void Start();
  void Stop();
  // Takes the window to the tray (minimised and hidden) and back.
  void Hide();
  void Restore();
  // A second start asked for the window: back from the tray, or raised.
  void BringToFront();
  // The notification area went away, or came back.
  void OnTrayAvailability(bool available);
  // The alert settings of the file at `path` (see LoadAlertSettings), where "Alertes" is saved.
  void UseAlertSettings(const QString& path);
  LinkAlerts& alerts() { return *alerts_; }
  void RedrawGraph();

  // One tick of Timer1: opens a measurement and sends its burst.
  void OnTimer1Tick();
  // The user chose entry `index` of Combo1's list.
  void OnCombo1Chosen(int index);
  // One tick of Timer2, the scroll auto-repeat: moves the offset by the step and redraws.
  void OnTimer2Tick();

  // Told of the cycle as it goes, for the metrics: each counted reply of a burst, each
  // measurement (after the link's condition took it), and a burst dropped by Stop.
  struct CycleWatch {
    std::function<void(const PingResult& reply)> replied;
    std::function<void(const Measurement& measurement, LinkCondition condition)> measured;
    std::function<void()> dropped;
  };
  void WatchCycle(CycleWatch watch) { watch_ = std::move(watch); }
  // Where the traces taken as the link goes down or degraded come from; none without.
  void UseTraces(TraceTaker* traces) { traces_ = traces; }

  int scroll_offset() const { return scroll_offset_; }
  // The host the graph's measurements were taken from: the run's, or the replayed run's (empty
  // when the history does not say).
  const QString& shown_host() const { return shown_host_; }
  int scroll_step() const { return scroll_step_; }
  const MeasurementSeries& series() const { return series_; }
  bool stop_requested() const { return stop_requested_; }
  bool burst_running() const { return burst_.running(generation_); }

 signals:
  // The window was closed: the program ends at once, writing nothing.
  void Closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildFrame();
  void SetStatus(const QString& text);
  void SetStatusColour(long vb_colour);
  void SetScrollButtonsEnabled(bool enabled);
  // The scroll step of a scroll button, 0 for any other object.
  int ScrollStepOf(const QObject* button) const;
  void SendNextRequest();
  void OnReply(unsigned generation, const PingResult& reply);
  void ContinueBurst(unsigned generation);
  void FinishBurst();
  enum class LineKind { kStartupMarker, kRunHeader, kMeasurement };
  void AppendHistoryLine(const std::string& line, LineKind kind);
  void RebuildRunList();
  void Replay(const QString& key);
  // "Arrêt" or "mesure dans moins d'1 mn...", unless the last history write failed.
  // `text`, unless a warning stands: no privilege for ICMP first, then the history file. The
  // label's tip explains the warnings.
  void ShowStatusOrWarning(const QString& text);

  const Clock& clock_;
  EchoRunner& echo_;

  QString BaseCaption_;
  QString command_line_;
  bool stop_requested_ = true;
  int scroll_offset_ = 0;
  QString shown_host_;
  int scroll_step_ = 0;
  int large_scroll_step_ = kLargeScrollStep;
  unsigned generation_ = 0;
  BurstCycle burst_;
  CycleWatch watch_;
  TraceTaker* traces_ = nullptr;
  std::string run_key_;  // the run's header's key, for its traces
  BurstTrace burst_trace_;
  MeasurementSeries series_;
  HistoryFile history_;
  bool history_failed_ = false;
  QString history_tip_;
  // Requests fail because no ICMP socket may be opened (said when a burst meets it).
  bool ping_not_permitted_ = false;
  // Every request of the last burst failed because the host's name does not exist.
  bool no_such_host_ = false;
  LinkAlerts* alerts_ = nullptr;
  TrayMenu* tray_menu_ = nullptr;
  QString alert_settings_path_;  // empty: "Alertes" is not saved
  bool said_header_again_ = false;
  // The window left the tray because the notification area went away.
  bool stranded_ = false;
  // The window's place inside its frame when it last went to the tray; Restore puts it back.
  std::optional<QPoint> client_position_;

 public:
  // The controls, by their designed names.
  QLineEdit* URL = nullptr;
  QComboBox* Combo1 = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command4 = nullptr;
  QPushButton* Command5 = nullptr;
  QPushButton* Command6 = nullptr;
  QPushButton* Command7 = nullptr;
  QGroupBox* Frame1 = nullptr;
  QGroupBox* Frame2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label9 = nullptr;
  QLabel* Label11 = nullptr;
  QLabel* Label13 = nullptr;
  QLabel* Label15 = nullptr;
  QLabel* lh1 = nullptr;
  QLabel* lh2 = nullptr;
  QLabel* lh3 = nullptr;
  QLabel* lh4 = nullptr;
  GraphView* Picture1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  SysTrayCtl::cSysTray* csys = nullptr;
};

}  // namespace trelvane
