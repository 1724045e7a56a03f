#include "ui/form1.h"

#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "history/report_encoding.h"
#include "service/echo_runner.h"
#include "service/tick_keeper.h"
#include "ui/form1_parts.h"
#include "ui/graph_view.h"
#include "ui/link_alerts.h"
#include "ui/systray.h"

namespace trelvane {

using namespace form1;

namespace {

// Reading a long history leaves its buffers freed but still held by the allocator; they go back to
// the system, so that the program's footprint is what it keeps, not what it once read.
void GiveBackFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace

Form1::Form1(const Clock& clock, EchoRunner& echo, QWidget* parent, std::string history_path,
             Controls controls)
    : QWidget(parent),
      clock_(clock),
      echo_(echo),
      burst_(clock),
      history_(std::move(history_path)) {
  BuildFrame();
  if (controls == Controls::kWithWindow) BuildControls();
}

Form1::~Form1() = default;

void Form1::Load(const QString& command_line) {
  BaseCaption_ = windowTitle();
  setAccessibleName(BaseCaption_);
  csys->setTrayTip(BaseCaption_);
  csys->setIntray(false);

  command_line_ = command_line;
  URL->setText(command_line_.isEmpty() ? QString(kDefaultHost) : command_line_);

  large_scroll_step_ = kLargeScrollStep;
  scroll_offset_ = 0;
  stop_requested_ = false;

  Timer1->stop();
  Command2->setEnabled(false);
  SetStatusColour(kBlack);
  SetStatus(QString());
  SetScrollButtonsEnabled(false);

  Picture1->Clear();
  Picture1->Draw(StartupGrid());

  AppendHistoryLine(StartupMarker(clock_.Now(), clock_.separators()), LineKind::kStartupMarker);
  Stop();
  if (!command_line_.isEmpty()) {
    Start();
    Hide();
  }
  GiveBackFreedMemory();
}

void Form1::Start() {
  series_.Clear();
  stop_requested_ = false;
  scroll_offset_ = 0;
  no_such_host_ = false;
  alerts_->Reset();
  // A burst of an earlier run that is still waiting for a reply no longer touches anything.
  ++generation_;
  shown_host_ = URL->text();
  const std::string header = RunHeader(clock_.Now(), clock_.separators());
  run_key_ = std::string(RunKey(header));
  AppendHistoryLine(header, LineKind::kRunHeader);

  Command1->setEnabled(false);
  Combo1->setEnabled(false);
  URL->setEnabled(false);
  Command2->setEnabled(true);
  URL->repaint();

  const LocalTime now = clock_.Now();
  const Separators separators = clock_.separators();
  SetFittedText(Label13, QString::fromStdString(FormatDate(now, separators.date) + " - " +
                                                FormatMinute(now, separators.time)));
  Label13->repaint();

  Timer1->setInterval(kFirstTickMs);
  Timer1->start();
  KeepOnTime(*Timer1);
}

void Form1::Stop() {
  stop_requested_ = true;
  alerts_->Reset();
  // A burst under way ends here: the reply it still waits for touches neither the window nor the
  // series when it comes.
  if (burst_running() && watch_.dropped) watch_.dropped();
  burst_.Drop();
  Timer1->stop();
  Command2->setEnabled(false);
  Command1->setEnabled(true);
  Combo1->setEnabled(true);
  URL->setEnabled(true);
  SetStatusColour(kBlack);
  ShowStatusOrWarning(QString::fromUtf8(kStopped));
  Label15->repaint();
  RebuildRunList();
}

void Form1::OnTimer1Tick() {
  // A burst of this run still under way (a very slow name lookup): never two at once.
  if (burst_running()) return;
  // Changing the interval restarts the timer; done only on the first tick, so that the ticks keep
  // their rhythm whatever the handler's own delay.
  if (Timer1->interval() != kTickMs) Timer1->setInterval(kTickMs);
  KeepOnTime(*Timer1);
  series_.ClearReplies();
  series_.OpenMeasurement();
  SetStatusColour(kBurstColour);
  SetStatus("en cours (0%)");
  SetScrollButtonsEnabled(false);
  Command7->setEnabled(false);

  burst_trace_.Began();
  burst_.Begin(generation_);
  SendNextRequest();
}

void Form1::SendNextRequest() {
  SetStatus(QString("en cours (%1%)").arg(burst_.progress_percent()));
  Label15->repaint();
  const unsigned generation = generation_;
  QPointer<Form1> self(this);
  echo_.Ping(URL->text().toStdString(), [self, generation](const PingResult& result) {
    if (self) self->OnReply(generation, result);
  });
}

void Form1::OnReply(unsigned generation, const PingResult& reply) {
  const std::optional<Measurement> so_far = burst_.Count(generation, reply);
  if (!so_far) return;
  if (reply.not_permitted) ping_not_permitted_ = true;
  if (watch_.replied) watch_.replied(reply);
  series_.AddReply(reply.text);
  series_.SetNewest(*so_far);
  // The yield: the next request, or the end of the burst, runs from the event loop.
  QTimer::singleShot(0, this, [this, generation] { ContinueBurst(generation); });
}

void Form1::ContinueBurst(unsigned generation) {
  if (!burst_.running(generation)) return;
  if (burst_.Advance()) {
    SendNextRequest();
  } else {
    FinishBurst();
  }
}

void Form1::FinishBurst() {
  const Measurement& newest = *series_.Item(0);
  burst_trace_.Ended();
  AppendHistoryLine(MeasurementLine(newest), LineKind::kMeasurement);

  Label3->setText(QString::fromStdString(newest.loss) + "%");
  Label5->setText(QString::fromStdString(newest.response) + "ms");
  const QString caption = Label3->text() + " " + Label5->text() + " - " + BaseCaption_;
  setWindowTitle(caption);
  setAccessibleName(caption);
  csys->setTrayTip(caption);
  const StampParts stamp = ReadStamp(newest.stamp);
  SetFittedText(Label11,
                QString::fromStdString(std::string(stamp.date) + " - " + std::string(stamp.time)));
  RedrawGraph();

  if (const std::optional<SinceStart> figures = SinceStartFigures(series_)) {
    Label7->setText(QString::number(figures->loss) + "%");
    Label9->setText(QString::number(figures->response) + "ms");
  }
  SetStatusColour(kMeasuredColour);
  ping_not_permitted_ = burst_.not_permitted();  // the privilege may have been granted since
  no_such_host_ = burst_.no_such_host();
  const LinkCondition before = alerts_->condition();
  alerts_->Add(newest, no_such_host_, URL->text());
  if (watch_.measured) watch_.measured(newest, alerts_->condition());
  // Where it broke: a trace in the background as the link goes down, or degraded.
  const LinkCondition now = alerts_->condition();
  if (traces_ != nullptr && now != before &&
      (now == LinkCondition::kDown || now == LinkCondition::kDegraded)) {
    QPointer<Form1> self(this);
    traces_->Take(URL->text().toStdString(), newest.stamp, run_key_,
                  [self](const StoredTrace& trace) {
                    if (self) self->alerts_->TellLastHop(trace);
                  });
  }
  ShowStatusOrWarning(QString::fromUtf8(kWaiting));
  update();
}

void Form1::ShowStatusOrWarning(const QString& text) {
  QStringList tips;
  if (ping_not_permitted_) tips << QString::fromUtf8(kNotPermittedTip);
  if (no_such_host_) {
    tips << QString::fromUtf8(
                "\u00ab %1 \u00bb : ce nom n'existe pas. Le r\u00e9solveur de noms "
                "r\u00e9pond \u00ab h\u00f4te introuvable \u00bb (HOST_NOT_FOUND) "
                "; v\u00e9rifiez le nom de l'h\u00f4te.")
                .arg(URL->text());
  }
  if (history_failed_) tips << history_tip_;
  Label15->setToolTip(tips.join("\n\n"));
  if (ping_not_permitted_ || no_such_host_) {
    SetStatusColour(kBurstColour);
    SetStatus(QString::fromUtf8(ping_not_permitted_ ? kNotPermitted : kNoSuchHost));
  } else {
    SetStatus(history_failed_ ? QString::fromUtf8(kHistoryFailed) : text);
  }
}

void Form1::AppendHistoryLine(const std::string& line, LineKind kind) {
  WriteResult result;
  switch (kind) {
    case LineKind::kStartupMarker:
      result = history_.Append(line);
      break;
    case LineKind::kRunHeader:
      // The host the run measures, as typed, on the line before its header.
      result = history_.AppendRunHeader(line, URL->text().toStdString());
      break;
    case LineKind::kMeasurement:
      result = history_.AppendMeasurement(line);
      break;
  }
  if (result.header_written_again && !said_header_again_) {
    said_header_again_ = true;
    std::fprintf(stderr,
                 "trelvane: %s was deleted or replaced during the run; the run's header was "
                 "written to it again\n",
                 history_.path().c_str());
  }
  history_failed_ = !result.ok;
  if (result.ok) {
    history_tip_.clear();
    return;
  }
  // The run goes on and the measurement stays in memory; the user is told, and stderr says why.
  std::fprintf(stderr, "trelvane: cannot write %s: %s\n", history_.path().c_str(),
               result.error.c_str());
  history_tip_ = QString::fromUtf8("Le fichier %1 n'a pas pu \u00eatre \u00e9crit : %2")
                     .arg(QString::fromStdString(history_.path()),
                          QString::fromStdString(result.error_french));
  ShowStatusOrWarning(Label15->text());
  Label15->repaint();
}

void Form1::RebuildRunList() {
  Combo1->clear();
  const std::optional<std::vector<std::string>> runs = history_.RunList();
  if (!runs) {
    std::fprintf(stderr, "trelvane: cannot read %s: %s\n", history_.path().c_str(),
                 DescribeError(history_.read_error()).c_str());
  }
  if (runs) {
    QStringList keys;
    keys.reserve(static_cast<qsizetype>(runs->size()));
    for (const std::string& key : *runs) keys << QString::fromLatin1(key);
    Combo1->addItems(keys);
    // Each run's tip names the host it measured.
    const std::vector<std::string>& hosts = history_.run_hosts();
    for (int i = 0; i < Combo1->count() && static_cast<std::size_t>(i) < hosts.size(); ++i) {
      const std::string& host = hosts[static_cast<std::size_t>(i)];
      // The file's Windows-1252, as text.
      const QString text = QString::fromStdString(Utf8Of(host));
      Combo1->setItemData(i, text, Qt::UserRole);
      Combo1->setItemData(
          i,
          QString::fromUtf8("H\u00f4te : %1")
              .arg(host.empty() ? QString::fromUtf8(kUnknownHost.data(), kUnknownHost.size())
                                : text),
          Qt::ToolTipRole);
    }
  }
  Combo1->setToolTip(
      QString::fromUtf8("Fichier d'historique : %1")
          .arg(QFileInfo(QString::fromStdString(history_.path())).absoluteFilePath()));
  Combo1->setCurrentIndex(-1);
  Combo1->setEditText(QString::fromUtf8(kRunListPrompt));
  Combo1->lineEdit()->setCursorPosition(0);
}

void Form1::OnCombo1Chosen(int index) {
  if (index < 0 || index >= Combo1->count()) return;
  shown_host_ = Combo1->itemData(index, Qt::UserRole).toString();
  Replay(Combo1->itemText(index));
  Combo1->lineEdit()->setCursorPosition(0);
}

void Form1::Replay(const QString& key) {
  series_.Clear();
  scroll_offset_ = 0;
  Timer2->stop();
  if (const auto measurements = history_.Replay(key.toLatin1().toStdString())) {
    for (const Measurement& m : *measurements) series_.Prepend(m);
  } else {
    std::fprintf(stderr, "trelvane: cannot read %s: %s\n", history_.path().c_str(),
                 DescribeError(history_.read_error()).c_str());
  }
  GiveBackFreedMemory();
  // Never another run's drawing: the graph ends at the newest measurement that can be drawn, and a
  // run without one shows the empty grid.
  if (const std::optional<int> newest = NewestCompleteMeasurement(series_)) {
    scroll_offset_ = *newest;
    RedrawGraph();
    return;
  }
  Picture1->Clear();
  Picture1->Draw(StartupGrid());
  for (QLabel* label : {lh1, lh2, lh3, lh4}) label->clear();
  SetScrollButtonsEnabled(false);
}

void Form1::RedrawGraph() {
  const std::optional<GraphDrawing> drawing = DrawGraph(series_, scroll_offset_);
  if (!drawing) return;  // nothing at the offset: the graph, labels and buttons stay as they are
  Picture1->Clear();
  Picture1->Draw(drawing->lines);
  lh4->setText(QString::fromStdString(drawing->lh4));
  lh3->setText(QString::fromStdString(drawing->lh3));
  lh2->setText(QString::fromStdString(drawing->lh2));
  lh1->setText(QString::fromStdString(drawing->lh1));
  Command4->setEnabled(drawing->older_enabled);
  Command6->setEnabled(drawing->older_enabled);
  Command3->setEnabled(drawing->newer_enabled);
  Command5->setEnabled(drawing->newer_enabled);
  Command7->setEnabled(true);
}

int Form1::ScrollStepOf(const QObject* button) const {
  if (button == Command6) return large_scroll_step_;
  if (button == Command4) return 1;
  if (button == Command3) return -1;
  if (button == Command5) return -large_scroll_step_;
  return 0;
}

void Form1::OnTimer2Tick() {
  scroll_offset_ = ScrollTick(scroll_offset_, scroll_step_, series_.Count(), large_scroll_step_);
  RedrawGraph();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (ScrollStepOf(watched) != 0) {
    // A real press reaches a disabled button too: it must not scroll.
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<const QWidget*>(watched)->isEnabled()) {
      scroll_step_ = ScrollStepOf(watched);
      Timer2->start();
    } else if (event->type() == QEvent::MouseButtonRelease) {
      Timer2->stop();
    }
  }
  if (watched == Combo1->lineEdit() && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace trelvane
