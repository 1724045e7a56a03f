// The main window driven as a user drives it, offscreen, with a fake echo runner and a fake clock.
#include "ui/form1.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>
#include <QtWidgets>
#include <memory>
#include <thread>

#include "fake_clock.h"
#include "fake_echo_runner.h"
#include "graph/axes.h"
#include "ui/graph_picture.h"
#include "ui/graph_view.h"
#include "ui/history_lock.h"
#include "ui/systray.h"
#include "ui/tray_menu.h"

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace trelvane {
namespace {

using testing::FakeClock;
using testing::FakeEchoRunner;

const QString kCaption = QString::fromUtf8("Trelvane v0.4 par vElUdrak");
const QString kStopped = QString::fromUtf8("Arr\u00eat");
const QString kFailed = QString::fromUtf8("Historique non \u00e9crit !");
const QString kPrompt = QString::fromUtf8("Historiques...(date d\u00e9but)");
const QString kWaiting = QString::fromUtf8("mesure dans moins d'1 mn...");
const std::string kMarker = "++++++++++ D\xE9marrage de l'application : 06/12/2026 - 14:04:30";
const std::string kHeader = "***** 06/12/2026 - 14:04:30";
const QColor kRed(192, 0, 0), kGreen(0, 128, 0);

QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

// Lets the event loop run until `done` holds or `timeout_ms` have passed; true if it holds.
template <typename Predicate>
bool WaitUntil(Predicate done, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void Yield() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

std::vector<std::string> Repeat(int count, const std::string& text) {
  return std::vector<std::string>(count, text);
}

// A mouse press or release of `which` on `button`, as the mouse delivers it.
void Press(QWidget* button, Qt::MouseButton which, QEvent::Type type = QEvent::MouseButtonPress) {
  QMouseEvent event(type, QPointF(3, 3), button->mapToGlobal(QPointF(3, 3)), which,
                    type == QEvent::MouseButtonPress ? which : Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(button, &event);
}

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    history_path_ = dir_.filePath("trelvane.txt").toStdString();
    form_ = std::make_unique<Form1>(clock_, echo_, nullptr, history_path_);
  }

  // The history file's lines, each with its CR LF checked and taken off.
  std::vector<std::string> HistoryLines() const {
    QFile file(QString::fromStdString(history_path_));
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::vector<std::string> lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (line.isEmpty()) continue;
      EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
      lines.push_back(line.chopped(1).toStdString());
    }
    return lines;
  }
  void WriteHistory(const char* text) const {
    QFile file(QString::fromStdString(history_path_));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
  }
  // A stored run of `count` measurements a minute apart, the newest at 23:59, loss 50 % each
  // tenth minute and 0 % otherwise, 20 ms each; loaded and replayed.
  void ReplayRun(int count) {
    QByteArray text = "***** 06/12/2026 - 08:00:00\r\n";
    for (int i = count - 1; i >= 0; --i) {
      const int minute = 23 * 60 + 59 - i;
      text += QString("06/12/2026-%1:%2 %3 20\r\n")
                  .arg(minute / 60, 2, 10, QChar('0'))
                  .arg(minute % 60, 2, 10, QChar('0'))
                  .arg(i % 10 == 0 ? 50 : 0)
                  .toLatin1();
    }
    WriteHistory(text.constData());
    form_->Load("");
    emit form_->Combo1->activated(0);
  }

  void StartRun() {
    form_->Load("");
    form_->Command1->click();
    form_->OnTimer1Tick();
  }
  // Answers the requests of the burst in progress with `results`, one after another.
  void Answer(const std::vector<std::string>& results, bool not_permitted = false) {
    for (const std::string& result : results) {
      ASSERT_EQ(echo_.pending.size(), 1u);
      echo_.Complete(result, not_permitted);
      Yield();
    }
  }
  void RunBurst(const std::vector<std::string>& results) {
    form_->OnTimer1Tick();
    Answer(results);
  }

  // What the window shows: its status, the latest and since-start figures (loss, response, loss,
  // response) and its caption before the designed one. The tray tip and the accessible names
  // always say what the caption says.
  QStringList Shown() const {
    const QString caption = form_->windowTitle();
    EXPECT_TRUE(caption.endsWith(kCaption)) << caption.toStdString();
    EXPECT_EQ(QStringList(
                  {form_->csys->TrayTip(), form_->accessibleName(), form_->csys->AccessibleName()}),
              QStringList({caption, caption, caption}));
    return {form_->Label15->text(), form_->Label3->text(), form_->Label5->text(),
            form_->Label7->text(),  form_->Label9->text(), caption.chopped(kCaption.size())};
  }
  // The graph's hour labels from the oldest, its date, and the scroll buttons that are enabled.
  QString Graph() const {
    QStringList shown = {form_->lh1->text(), form_->lh2->text(), form_->lh3->text(),
                         form_->lh4->text(), "|"};
    for (QPushButton* b : ScrollButtons()) {
      if (b->isEnabled()) shown << b->text();
    }
    return shown.join(' ');
  }
  // The run state as the enabled controls, the timer and the flag tell it.
  void ExpectRunning(bool running) const {
    const std::vector<bool> idle = {form_->Command1->isEnabled(), form_->Combo1->isEnabled(),
                                    form_->URL->isEnabled(),      !form_->Command2->isEnabled(),
                                    !form_->Timer1->isActive(),   form_->stop_requested()};
    EXPECT_EQ(idle, std::vector<bool>(6, !running));
  }
  std::vector<QPushButton*> ScrollButtons() const {
    return {form_->Command6, form_->Command4, form_->Command3, form_->Command5};
  }

  QTemporaryDir dir_;
  std::string history_path_;
  FakeClock clock_{LocalTime{2026, 12, 6, 14, 4, 30}};
  FakeEchoRunner echo_;
  std::unique_ptr<Form1> form_;
};

// The layout is judged by what a user sees, not by its coordinates: columns line up, scales stand
// beside the heights they name, texts fit, and nothing overlaps that was not meant to.
TEST_F(Form1Test, LayoutHoldsItsDesignedRelations) {
  EXPECT_EQ(form_->size(), QSize(599, 310));
  EXPECT_EQ(form_->windowTitle(), kCaption);
  auto at = [&](const char* name) { return form_->findChild<QWidget*>(name)->geometry(); };
  // The graph's inner area, and the scale labels beside the heights they name, top to bottom.
  const QRect inner = form_->Picture1->contentsRect().translated(at("Picture1").topLeft());
  EXPECT_EQ(inner.size(), QSize(329, 263));
  struct Mark {
    const char* name;
    double y;  // twips from the top of the drawing
    QColor colour;
  };
  const Mark marks[] = {{"Label16", LossY(100), kRed},       {"Label19", ResponseY(2000), kGreen},
                        {"Label28", ResponseY(500), kGreen}, {"Label24", ResponseY(200), kGreen},
                        {"Label23", ResponseY(100), kGreen}, {"Label17", LossY(50), kRed},
                        {"Label22", ResponseY(50), kGreen},  {"Label21", ResponseY(0), kGreen},
                        {"Label18", LossY(0), kRed}};
  for (const Mark& mark : marks) {
    SCOPED_TRACE(mark.name);
    const QRect label = at(mark.name);
    EXPECT_NEAR(label.center().y(), inner.top() + mark.y / 15, 6);
    EXPECT_EQ(TextColour(form_->findChild<QLabel*>(mark.name)), mark.colour);
    // Loss to the left of the graph, response to the right.
    EXPECT_TRUE(mark.colour == kRed ? label.right() < inner.left() : label.left() > inner.right());
  }
  // Hour labels and scroll buttons in one row under the graph; the hour labels centred under the
  // moments they name (two hours back, one, now), the buttons side by side in the order << < > >>.
  const double hours[] = {0, 0.5, 1};
  int k = 0;
  for (const char* name : {"lh1", "lh2", "lh3"}) {
    EXPECT_NEAR(at(name).center().x(), inner.left() + hours[k++] * inner.width(), 5) << name;
    EXPECT_EQ(at(name).top(), form_->Command6->y()) << name;
  }
  const std::vector<QPushButton*> row = ScrollButtons();
  const QStringList arrows = {"<<", "<", ">", ">>"};
  for (std::size_t i = 0; i < row.size(); ++i) {
    EXPECT_EQ(row[i]->text(), arrows[int(i)]);
    EXPECT_EQ(row[i]->geometry().size(), row[0]->size());
    EXPECT_EQ(row[i]->pos(), row[0]->pos() + QPoint(24 * int(i), 0));
  }
  // The left column shares its left and right edges; the host box's top is the graph's.
  for (const char* name : {"Label1", "Command1", "Label14", "Frame1", "Frame2"}) {
    EXPECT_EQ(at(name).left(), at("Frame1").left()) << name;
  }
  for (const char* name : {"URL", "Command2", "Frame2"}) {
    EXPECT_EQ(at(name).right(), at("Frame1").right()) << name;
  }
  EXPECT_EQ(at("URL").top(), at("Picture1").top());
  EXPECT_EQ(at("Frame2").size(), at("Frame1").size());
  EXPECT_LT(at("Frame1").bottom(), at("Frame2").top());
  EXPECT_LT(at("Frame2").bottom(), at("Combo1").top());
  // Every text fits its label, every label lies inside its frame or window, and no two controls
  // overlap by more than a shared edge (in a frame a caption lies under its value, as designed).
  for (const QLabel* label : form_->findChildren<QLabel*>()) {
    SCOPED_TRACE(label->objectName().toStdString());
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()) ||
                label->objectName() == "Label19");  // "2000ms" runs to the window's edge
  }
  const QWidgetList controls = form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (const QWidget* a : controls) {
    for (const QWidget* b : controls) {
      if (a >= b || a->isWindow() || b->isWindow() || a->objectName().startsWith("Line") ||
          b->objectName().startsWith("Line")) {
        continue;  // menus, and the tick marks that touch the graph's edge
      }
      const QRect both = a->geometry() & b->geometry();
      EXPECT_TRUE(both.width() <= 1 || both.height() <= 1)
          << a->objectName().toStdString() << " / " << b->objectName().toStdString();
    }
  }
  // Loss in red, response in green, figures right-aligned; keyboard focus in the designed order.
  for (QLabel* figure : {form_->Label3, form_->Label5, form_->Label7, form_->Label9}) {
    EXPECT_EQ(TextColour(figure), figure->text().endsWith('%') ? kRed : kGreen);
    EXPECT_TRUE(figure->alignment() & Qt::AlignRight);
  }
  const QStringList order = {"Command1", "Command2", "URL",      "Picture1", "Command3",
                             "Command4", "Command5", "Command6", "Combo1",   "Command7"};
  QStringList chain;
  QWidget* w = form_->Command1;
  do {
    if (order.contains(w->objectName()) && !chain.contains(w->objectName())) {
      chain << w->objectName();
    }
    w = w->nextInFocusChain();
  } while (w != form_->Command1);
  EXPECT_EQ(chain, order);
}

TEST_F(Form1Test, StartsIdleOrRunsTheCommandLinesHostFromTheTray) {
  form_->Load("");
  EXPECT_EQ(form_->URL->text(), "www.wikipedia.org");
  ExpectRunning(false);
  EXPECT_EQ(Shown(), QStringList({kStopped, "0%", "0ms", "0%", "0ms", ""}));
  EXPECT_EQ(TextColour(form_->Label15), QColor(0, 0, 0));
  EXPECT_EQ(form_->Combo1->currentText(), kPrompt);
  EXPECT_EQ(Graph(), "    |");
  EXPECT_TRUE(form_->Command7->isHidden());
  EXPECT_FALSE(form_->csys->intray());
  EXPECT_TRUE(echo_.hosts.empty());
  EXPECT_EQ(HistoryLines(), std::vector<std::string>{kMarker});

  form_ = std::make_unique<Form1>(clock_, echo_, nullptr, history_path_);
  form_->csys->SetAvailableForTesting(true);
  form_->Load("10.0.0.1");
  EXPECT_EQ(form_->URL->text(), "10.0.0.1");
  ExpectRunning(true);
  EXPECT_EQ(form_->Label13->text(), "06/12/2026 - 14:04");
  EXPECT_EQ(HistoryLines(), (std::vector<std::string>{kMarker, kMarker, kHeader}));
  EXPECT_TRUE(form_->isHidden() && form_->isMinimized() && form_->csys->intray());
  // The first tick comes a second later and sends to the host as typed; then one a minute, kept
  // to the timer's rhythm however late a tick is handled.
  EXPECT_EQ(form_->Timer1->interval(), 1000);
  EXPECT_TRUE(WaitUntil([&] { return !echo_.hosts.empty(); }, 3000));
  EXPECT_EQ(echo_.hosts[0], "10.0.0.1");
  EXPECT_EQ(form_->Timer1->interval(), 60000);
  EXPECT_EQ(form_->Timer1->timerType(), Qt::PreciseTimer);
  Answer(Repeat(24, "20 ms"));
  EXPECT_EQ(Shown().last(), "0% 20ms - ");  // the tip follows while in the tray
  QThread::msleep(300);
  form_->OnTimer1Tick();
  EXPECT_LE(form_->Timer1->remainingTime(), 59750);

  // Without a notification area the window stays minimised in the task bar, and the run goes on.
  form_ = std::make_unique<Form1>(clock_, echo_, nullptr, history_path_);
  form_->csys->SetAvailableForTesting(false);
  form_->Load("10.0.0.1");
  form_->show();
  EXPECT_TRUE(form_->isMinimized() && form_->isVisible() && !form_->csys->intray());
  EXPECT_TRUE(form_->Timer1->isActive());
  form_->setWindowState(Qt::WindowNoState);
  form_->setWindowState(Qt::WindowMinimized);  // minimised by the user
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(Form1Test, ABurstShowsItsProgressThenItsFigures) {
  ReplayRun(40);
  form_->Command1->click();
  form_->OnTimer1Tick();
  EXPECT_EQ(TextColour(form_->Label15), kRed);
  EXPECT_EQ(form_->series().Item(0)->stamp, "...");
  EXPECT_EQ(Graph(), "21:59 22:59 23:59 06/12/2026 |");  // the last drawing, no scrolling
  EXPECT_FALSE(form_->Command7->isEnabled());
  const int expected[] = {4,  8,  12, 16, 20, 25, 29, 33, 37, 41, 45, 50,
                          54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95, 100};
  for (int percent : expected) {
    EXPECT_EQ(form_->Label15->text(), QString("en cours (%1%)").arg(percent));
    Answer({"20 ms"});
    EXPECT_EQ(form_->series().Item(0)->response, "20");  // rewritten after every request
  }
  EXPECT_TRUE(echo_.pending.empty());
  EXPECT_EQ(Shown(), QStringList({kWaiting, "0%", "20ms", "0%", "20ms", "0% 20ms - "}));
  EXPECT_EQ(TextColour(form_->Label15), QColor(192, 64, 0));
  EXPECT_TRUE(form_->Command7->isEnabled());
  EXPECT_EQ(form_->Label11->text(), "06/12/2026 - 14:04");

  clock_.Set(LocalTime{2026, 12, 6, 14, 5, 30});
  RunBurst(Repeat(24, "Timeout"));
  // Since the start: (0 + 100) / 2 and (20 + 2000) / 2, the 2000 counting.
  EXPECT_EQ(Shown(), QStringList({kWaiting, "100%", "2000ms", "50%", "1010ms", "100% 2000ms - "}));
  std::vector<std::string> mixed = Repeat(7, "Timeout");
  for (int i = 0; i < 16; ++i) mixed.push_back("23 ms");
  mixed.push_back("32 ms");  // 17 answers, 400 ms in all
  RunBurst(mixed);
  EXPECT_EQ(Shown().mid(1, 4), QStringList({"29%", "23ms", "43%", "681ms"}));
  EXPECT_EQ(form_->series().Count(), 3);
  EXPECT_EQ(Graph(), "12:05 13:05 14:05 06/12/2026 |");  // the live run, not the replay
  // A measurement under way: a redraw that meets its placeholder keeps the last drawing.
  form_->OnTimer1Tick();
  form_->OnTimer1Tick();  // a tick during a burst starts no second burst
  EXPECT_EQ(echo_.pending.size(), 1u);
  const QImage drawn = form_->Picture1->image();
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->Picture1->image(), drawn);
}

TEST_F(Form1Test, StopOrGoMidBurstKeepsOnlyTheCountedRequests) {
  StartRun();
  Answer(Repeat(24, "10 ms"));
  form_->OnTimer1Tick();
  Answer({"30 ms", "Timeout", "30 ms", "30 ms", "30 ms"});
  form_->Command2->click();  // while request 6 waits
  ExpectRunning(false);
  const QStringList stopped = {kStopped, "0%", "10ms", "0%", "10ms", "0% 10ms - "};
  EXPECT_EQ(Shown(), stopped);
  Answer({"50 ms"});
  EXPECT_TRUE(echo_.pending.empty()) << "no request after the stop";
  // The reply that came after the stop is neither recorded nor counted, nor shown.
  EXPECT_EQ(form_->series().replies().size(), 5u);
  EXPECT_EQ(*form_->series().Item(0), (Measurement{"06/12/2026-14:04", "20", "30"}));
  EXPECT_EQ(Shown(), stopped);
  EXPECT_EQ(HistoryLines().size(), 3u);  // marker, header, the first burst's line

  // Stopped after the 24th reply, before the burst ends: nothing written either.
  form_->Command1->click();
  RunBurst(Repeat(23, "10 ms"));
  echo_.Complete("10 ms");
  form_->Stop();
  Yield();
  EXPECT_EQ(Shown(), stopped);
  EXPECT_EQ(HistoryLines().size(), 4u);  // the second run's header only

  // GO again before the old burst's request has come back: the old burst goes no further, and
  // the new run's burst is its own.
  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer({"10 ms", "10 ms"});
  form_->Command2->click();
  form_->Command1->click();
  Answer({"999 ms"});
  EXPECT_TRUE(echo_.pending.empty());
  EXPECT_EQ(form_->series().Count(), 0);
  EXPECT_TRUE(form_->series().replies().empty());
  RunBurst(Repeat(24, "40 ms"));
  EXPECT_EQ(form_->series().Count(), 1);
  EXPECT_EQ(Shown().mid(1, 4), QStringList({"0%", "40ms", "0%", "40ms"}));
}

TEST_F(Form1Test, HistoryLinesAndTheRunList) {
  clock_.SetSeparators(Separators{'.', '.'});
  form_->Load("");
  EXPECT_EQ(HistoryLines().size(), 1u);
  form_->Command1->click();
  RunBurst(Repeat(18, "20 ms"));
  Answer(Repeat(6, "Timeout"));
  form_->Command2->click();
  // Every stamp with the regional separators.
  EXPECT_EQ(HistoryLines(), (std::vector<std::string>{
                                "++++++++++ D\xE9marrage de l'application : 06.12.2026 - 14.04.30",
                                "***** 06.12.2026 - 14.04.30", "06.12.2026-14.04 25 20"}));
  EXPECT_EQ(form_->Label13->text(), "06.12.2026 - 14.04");
  EXPECT_EQ(form_->Label11->text(), "06.12.2026 - 14.04");
  // The stopped run is entry 0 of the rebuilt list; one stopped before its first measurement is
  // not offered.
  ASSERT_EQ(form_->Combo1->count(), 1);
  EXPECT_EQ(form_->Combo1->itemText(0), "06.12.2026 - 14.04.30");
  EXPECT_EQ(form_->Combo1->currentText(), kPrompt);
  clock_.Set(LocalTime{2026, 12, 6, 15, 0, 0});
  form_->Command1->click();
  form_->Command2->click();
  EXPECT_EQ(HistoryLines().back(), "***** 06.12.2026 - 15.00.00");
  EXPECT_EQ(form_->Combo1->count(), 1);
  emit form_->Combo1->activated(0);
  EXPECT_EQ(Graph(), "12.04 13.04 14.04 06.12.2026 |");
}

TEST_F(Form1Test, ChoosingARunReplaysItAndOnlyIt) {
  WriteHistory(
      "***** 05/12/2026 - 09:15:02\r\n05/12/2026-09:15 0 23\r\n05/12/2026-09:16 4 25\r\n"
      "***** 05/12/2026 - 10:00:00\r\n05/12/2026-10:00 50 40\r\n05/12/2026-10:01 0 41\r\n"
      "garbled 0 20\r\n"
      "***** 05/12/2026 - 11:00:00\r\n05/12/2026-1x:00 0 20\r\n");
  form_->Load("");
  const QImage grid = form_->Picture1->image();
  ASSERT_EQ(form_->Combo1->count(), 3);
  // Typing a key and pressing Enter loads nothing.
  form_->Combo1->setEditText("05/12/2026 - 09:15:02");
  QTest::keyClick(form_->Combo1->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form_->series().Count(), 0);

  form_->Timer2->start();
  emit form_->Combo1->activated(2);
  ASSERT_EQ(form_->series().Count(), 2);
  EXPECT_EQ(*form_->series().Item(0), (Measurement{"05/12/2026-09:16", "4", "25"}));
  EXPECT_TRUE(form_->series().replies().empty());
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(Graph(), "07:16 08:16 09:16 05/12/2026 |");
  emit form_->Combo1->activated(3);  // no such entry: nothing changes
  EXPECT_EQ(form_->series().Count(), 2);
  // Nothing else changes: the labels still show the last live run.
  EXPECT_EQ(Shown(), QStringList({kStopped, "0%", "0ms", "0%", "0ms", ""}));
  EXPECT_EQ(form_->Label13->text(), "");
  // Its newest line is garbled: the run is drawn from its newest good measurement.
  emit form_->Combo1->activated(1);
  EXPECT_EQ(form_->lh3->text(), "10:01");
  EXPECT_EQ(form_->scroll_offset(), 1);
  // Nothing in it can be drawn: the empty grid, not the run before.
  emit form_->Combo1->activated(0);
  EXPECT_EQ(form_->Picture1->image(), grid);
  EXPECT_EQ(Graph(), "    |");
}

TEST_F(Form1Test, AReplayDrawsTheGraphAndAStoppedBurstTouchesItNot) {
  ReplayRun(100);
  ASSERT_EQ(form_->series().Count(), 100);
  EXPECT_EQ(Graph(), "21:59 22:59 23:59 06/12/2026 | << <");
  // A major grid line at 2000 twips (row 133), clear of any bar; and the 50 % bar of the
  // measurement ten minutes before the newest, at x = 5000 - 11 W (column 302 or 303).
  const QImage image = form_->Picture1->image();
  EXPECT_EQ(image.pixelColor(10, 133), kGreen);
  const QColor bar(160, 0, 0);
  EXPECT_TRUE(image.pixelColor(302, 190) == bar || image.pixelColor(303, 190) == bar);
  EXPECT_NE(image.pixelColor(290, 190), bar);

  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer({"10 ms", "10 ms"});
  // A press on a greyed-out scroll button scrolls nothing.
  for (QPushButton* b : ScrollButtons()) {
    ASSERT_FALSE(b->isEnabled());
    Press(b, Qt::LeftButton);
    EXPECT_FALSE(form_->Timer2->isActive()) << b->objectName().toStdString();
  }
  form_->Command2->click();  // while request 3 waits
  emit form_->Combo1->activated(0);
  Answer({"50 ms"});
  EXPECT_TRUE(form_->series().replies().empty());
  EXPECT_EQ(form_->series().Count(), 100);
  EXPECT_EQ(form_->Picture1->image(), image);
}

TEST_F(Form1Test, TheGraphAsAPicture) {
  EXPECT_EQ(GraphPictureName(*form_), "trelvane.png");
  ReplayRun(100);
  EXPECT_EQ(GraphPictureName(*form_), "trelvane-2026-12-06-2359.png");
  const QImage picture = GraphPicture(*form_);
  // From the percent scale (x 2880 twips) to the window's edge, from "2000ms" (y 195) to the
  // bottom of the hour labels (y 4575); the graph in it as drawn, offset by the frame.
  EXPECT_EQ(picture.size(), QSize(599 - 192, 305 - 13));
  const QImage graph = form_->Picture1->image();
  const QPoint inner = form_->Picture1->geometry().topLeft() + QPoint(2, 2) - QPoint(192, 13);
  for (const QPoint at : {QPoint(10, 133), QPoint(302, 190), QPoint(200, 50)}) {
    EXPECT_EQ(picture.pixelColor(at + inner), graph.pixelColor(at)) << at.x() << "," << at.y();
  }
  // Labels are there (ink in lh3's place), scroll buttons are not (the window's plain colour).
  auto ink = [&](QRect r) {
    int dark = 0;
    for (int i = 0; i < r.width() * r.height(); ++i) {
      dark +=
          picture.pixelColor(r.topLeft() + QPoint(i % r.width(), i / r.width())).lightness() < 100;
    }
    return dark;
  };
  EXPECT_GT(ink(QRect(537 - 192, 288 - 13, 33, 15)), 5);                        // lh3
  EXPECT_EQ(ink(QRect(4320 / 15 - 192 + 4, 288 - 13 + 4, 10, 8)), 0);           // "<" is left out
  form_->Picture1->findChild<QMenu*>("GraphMenu")->actions().at(0)->trigger();  // Copier
  EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), picture);
}

TEST_F(Form1Test, ScrollingByHoldingAButtonOnly) {
  ReplayRun(100);
  const QImage newest = form_->Picture1->image();
  // From the keyboard a button only sets the step.
  form_->Command6->setFocus();
  QTest::keyClick(form_->Command6, Qt::Key_Space);
  EXPECT_EQ(form_->scroll_step(), 20);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->Picture1->image(), newest);

  Press(form_->Command4, Qt::LeftButton);  // "<"
  EXPECT_TRUE(form_->Timer2->isActive());
  EXPECT_EQ(form_->Timer2->interval(), 50);
  form_->OnTimer2Tick();
  form_->OnTimer2Tick();
  EXPECT_EQ(Graph(), "21:57 22:57 23:57 06/12/2026 | << < > >>");
  Press(form_->Command4, Qt::LeftButton, QEvent::MouseButtonRelease);
  EXPECT_FALSE(form_->Timer2->isActive());

  // "<<" held from offset 60: 80, which disables the older-side buttons, and 80 it stays.
  for (int i = 0; i < 58; ++i) form_->OnTimer2Tick();
  ASSERT_EQ(form_->scroll_offset(), 60);
  Press(form_->Command6, Qt::RightButton);  // any mouse button
  form_->OnTimer2Tick();
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->scroll_offset(), 80);
  EXPECT_EQ(Graph(), "20:39 21:39 22:39 06/12/2026 | > >>");
  // The held button is disabled now; its release still reaches it, and ends the repeat.
  ASSERT_EQ(form_->childAt(form_->Command6->geometry().center()), form_->Command6);
  Press(form_->Command6, Qt::RightButton, QEvent::MouseButtonRelease);
  EXPECT_FALSE(form_->Timer2->isActive());

  // ">>" from offset 5 lands on 0.
  for (int i = 0; i < 75; ++i) {
    Press(form_->Command3, Qt::LeftButton);
    form_->OnTimer2Tick();
  }
  ASSERT_EQ(form_->scroll_offset(), 5);
  Press(form_->Command5, Qt::LeftButton);
  form_->OnTimer2Tick();
  EXPECT_EQ(Graph(), "21:59 22:59 23:59 06/12/2026 | << <");

  // A real hold: the repeat ticks by itself; a replay ends it and shows the run from its end.
  Press(form_->Command4, Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return form_->scroll_offset() >= 3; }, 2000));
  emit form_->Combo1->activated(0);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->scroll_offset(), 0);
}

TEST_F(Form1Test, FailuresAreSaidAndTheRunGoesOn) {
  // An unwritable history: for root, whom modes do not stop, a folder in the file's place.
  if (geteuid() == 0) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir("trelvane.txt"));
  } else {
    ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner));
  }
  form_->Load("");
  EXPECT_EQ(form_->Label15->text(), kFailed);
  // The tip names the file and says why, in French.
  const QString tip = form_->Label15->toolTip();
  EXPECT_TRUE(tip.contains(QString::fromStdString(history_path_))) << tip.toStdString();
  EXPECT_TRUE(tip.contains(geteuid() == 0 ? "ordinaire" : "permission")) << tip.toStdString();
  EXPECT_EQ(form_->Combo1->count(), 0);

  // No ICMP privilege wins over it, and the tip carries both.
  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer(Repeat(24, "Err"), true);
  const QString not_permitted = QString::fromUtf8("Ping non autoris\u00e9 !");
  EXPECT_EQ(TextColour(form_->Label15), kRed);
  for (const QString& part : {QString::fromStdString(history_path_),
                              QString("sysctl -w net.ipv4.ping_group_range"), QString("setcap")}) {
    EXPECT_TRUE(form_->Label15->toolTip().contains(part)) << part.toStdString();
  }
  // What was measured is shown and kept in memory, and the run goes on.
  EXPECT_EQ(Shown().mid(0, 2), QStringList({not_permitted, "100%"}));
  EXPECT_EQ(form_->series().Count(), 1);
  ExpectRunning(true);
  form_->Command2->click();
  EXPECT_EQ(form_->Label15->text(), not_permitted);
  // Once the privilege is granted, the next burst clears it; the history warning stays, also
  // when a burst is stopped.
  form_->Command1->click();
  RunBurst(Repeat(24, "20 ms"));
  EXPECT_EQ(form_->Label15->text(), kFailed);
  EXPECT_FALSE(form_->Label15->toolTip().contains("setcap"));
  RunBurst({"20 ms"});
  form_->Command2->click();
  Answer({"20 ms"});
  EXPECT_EQ(form_->Label15->text(), kFailed);
  QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Counts the window-state changes the window goes through.
class StateChanges : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::WindowStateChange) ++count;
    return false;
  }
};

TEST_F(Form1Test, ToTheTrayAndBackAndQuit) {
  form_->csys->SetAvailableForTesting(true);
  ReplayRun(30);
  form_->show();
  const QImage drawing = form_->Picture1->image();
  const QPoint place = form_->pos();
  StateChanges changes;
  form_->installEventFilter(&changes);
  form_->Hide();  // from the screen: minimises, and the resize handling hides it, nested
  EXPECT_TRUE(form_->isMinimized() && form_->isHidden() && form_->csys->intray());
  EXPECT_EQ(changes.count, 1);
  emit form_->csys->IconEvent(1, 1);  // the user's click on the tray icon
  EXPECT_FALSE(form_->isMinimized() || form_->csys->intray());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->pos(), place);
  EXPECT_EQ(form_->Picture1->image(), drawing);
  // Minimised by the user: one state change, which hides it; Hide sets no state again.
  changes.count = 0;
  form_->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(form_->isHidden() && form_->csys->intray());
  form_->Hide();
  EXPECT_EQ(changes.count, 1);

  // The tray menu brings it back. A notification area that goes while the window is in it
  // leaves the window minimised in the task bar, until one is there again.
  auto* menu = form_->findChild<TrayMenu*>("TrayMenu");
  ASSERT_NE(menu, nullptr);
  menu->restore()->trigger();
  EXPECT_TRUE(form_->isVisible() && !form_->csys->intray());
  form_->Hide();
  form_->csys->SetAvailableForTesting(false);
  EXPECT_TRUE(form_->isVisible() && form_->isMinimized() && !form_->csys->intray());
  form_->csys->SetAvailableForTesting(true);
  EXPECT_TRUE(form_->isHidden() && form_->csys->intray());
  form_->Restore();

  // Return in the host box starts a run as GO does; "Quitter" and closing the window end the
  // program at once, in the middle of a burst, writing nothing.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form_->URL)->text(QAccessible::Name), "URL:");
  QTest::keyClick(form_->URL, Qt::Key_Return);
  ExpectRunning(true);
  RunBurst(Repeat(10, "20 ms"));
  const std::vector<std::string> before = HistoryLines();
  int closed = 0;
  QObject::connect(form_.get(), &Form1::Closed, [&] { ++closed; });
  menu->quit()->trigger();
  EXPECT_EQ(closed, 1);
  form_->show();
  form_->close();
  EXPECT_EQ(closed, 2);
  EXPECT_EQ(HistoryLines(), before);
}

TEST(HistoryLockTest, OneWindowPerHistoryFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("trelvane.txt");
  HistoryLock running(path);
  ASSERT_EQ(running.TryLock(), HistoryLock::State::kHeld);
  HistoryLock second(path);
  EXPECT_EQ(second.TryLock(), HistoryLock::State::kHeldElsewhere);
  EXPECT_EQ(second.HolderPid(), QCoreApplication::applicationPid());
  // The second start asks the running window to come to the front, and it hears it.
  bool asked = false;
  QObject::connect(&running, &HistoryLock::ShowRequested, [&] { asked = true; });
  bool answered = false;
  std::thread ask([&] { answered = second.AskHolderToShow(); });
  EXPECT_TRUE(WaitUntil([&] { return asked; }, 3000));
  ask.join();
  EXPECT_TRUE(answered);

  // A lock whose holder died without a word is taken over.
  const QString other = dir.filePath("other.txt");
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    QLockFile lock(other + ".lock");
    _exit(lock.tryLock(0) ? 0 : 1);  // no unlock: the lock file stays
  }
  waitpid(holder, nullptr, 0);
  ASSERT_TRUE(QFile::exists(other + ".lock"));
  EXPECT_EQ(HistoryLock(other).TryLock(), HistoryLock::State::kHeld);
}

TEST(ThreadedEchoRunnerTest, ResultComesBackOnTheUiThreadWithoutBlockingIt) {
  class SlowService final : public EchoService {
   public:
    Address ParseAddress(std::string_view) override { return 0x0100007F; }
    Address LookupHost(std::string_view) override { return 0; }
    EchoReply SendEcho(const EchoRequest&) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return EchoReply{EchoStatus::kSuccess, 7};
    }
  };
  auto runner = std::make_unique<ThreadedEchoRunner>(std::make_shared<SlowService>());
  std::string result;
  bool on_ui_thread = false;
  const auto start = std::chrono::steady_clock::now();
  runner->Ping("127.0.0.1", [&](const PingResult& r) {
    result = r.text;
    on_ui_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
  });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_TRUE(WaitUntil([&] { return !result.empty(); }, 3000));
  EXPECT_EQ(result, "7 ms");
  EXPECT_TRUE(on_ui_thread);
  // A runner that goes away while a request waits drops the late result.
  bool called = false;
  runner->Ping("127.0.0.1", [&](const PingResult&) { called = true; });
  runner.reset();
  WaitUntil([] { return false; }, 500);
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace trelvane
