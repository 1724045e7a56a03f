// The main window driven as a user drives it, offscreen, with a fake echo runner and a fake clock.
#include "ui/form1.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QtTest>
#include <QtWidgets>
#include <memory>

#include "fake_clock.h"
#include "graph/axes.h"
#include "service/alert_settings.h"
#include "service/echo_runner.h"
#include "ui/graph_picture.h"
#include "ui/graph_view.h"
#include "ui/link_alerts.h"
#include "ui/systray.h"

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace trelvane {
namespace {

using Strings = std::vector<std::string>;
const QString kCaption = QString::fromUtf8("Trelvane v0.4 par vElUdrak");
const QString kStopped = QString::fromUtf8("Arr\u00eat");
const QString kFailed = QString::fromUtf8("Historique non \u00e9crit !");
const QString kWaiting = QString::fromUtf8("mesure dans moins d'1 mn...");
const std::string kMarker = "++++++++++ D\xE9marrage de l'application : 06/12/2026 - 14:04:30";
const QColor kRed(192, 0, 0), kGreen(0, 128, 0);

QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }
Strings Repeat(int count, const std::string& text) { return Strings(count, text); }

// Lets the event loop run until `done` holds or `timeout_ms` have passed; true if it holds.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  QElapsedTimer timer;
  for (timer.start(); !done(); QThread::msleep(2)) {
    if (timer.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Holds every request until the test completes it, so a test decides when each reply arrives.
struct FakeEchoRunner final : EchoRunner {
  void Ping(const std::string& host, Done done) override {
    hosts.push_back(host);
    pending.push_back(std::move(done));
  }
  // Delivers the oldest pending request's result, as the event loop would.
  void Complete(const std::string& result, bool not_permitted = false, bool no_such_host = false) {
    Done done = std::move(pending.front());
    pending.pop_front();
    done(PingResult{result, not_permitted, no_such_host, {}});
  }
  std::deque<Done> pending;
  Strings hosts;
};

// A mouse press or release of `which` on `button`, as the mouse delivers it.
void Press(QWidget* button, Qt::MouseButton which, QEvent::Type type = QEvent::MouseButtonPress) {
  QMouseEvent event(type, QPointF(3, 3), button->mapToGlobal(QPointF(3, 3)), which,
                    type == QEvent::MouseButtonPress ? which : Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(button, &event);
}

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override { NewWindow(); }
  void NewWindow() { form_ = std::make_unique<Form1>(clock_, echo_, nullptr, path_.toStdString()); }

  // The history file's lines, each with its CR LF checked and taken off.
  Strings HistoryLines() const {
    QFile file(path_);
    Strings lines;
    for (const QByteArray& line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
      if (line.isEmpty()) continue;
      EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
      lines.push_back(line.chopped(1).toStdString());
    }
    return lines;
  }
  void WriteHistory(const QByteArray& text) const {
    QFile file(path_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
  }
  // A stored run of `count` measurements a minute apart, the newest at 23:59, loss 50 % each
  // tenth minute and 0 % otherwise, 20 ms each; loaded and replayed.
  void ReplayRun(int count) {
    QByteArray text = "***** 06/12/2026 - 08:00:00\r\n";
    for (int minute = 24 * 60 - count; minute < 24 * 60; ++minute) {
      text += QString::asprintf("06/12/2026-%02d:%02d %d 20\r\n", minute / 60, minute % 60,
                                (24 * 60 - 1 - minute) % 10 == 0 ? 50 : 0)
                  .toLatin1();
    }
    WriteHistory(text);
    form_->Load("");
    emit form_->Combo1->activated(0);
  }
  void StartRun() {
    form_->Load("");
    form_->Command1->click();
    form_->OnTimer1Tick();
  }
  // Answers the requests of the burst in progress with `results`, one after another.
  void Answer(const Strings& results, bool not_permitted = false, bool no_such_host = false) {
    for (const std::string& result : results) {
      ASSERT_EQ(echo_.pending.size(), 1u);
      echo_.Complete(result, not_permitted, no_such_host);
      for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
  }
  void RunBurst(const Strings& results) {
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
  QString path_ = dir_.filePath("trelvane.txt");
  testing::FakeClock clock_{LocalTime{2026, 12, 6, 14, 4, 30}};
  FakeEchoRunner echo_;
  std::unique_ptr<Form1> form_;
};

// The layout is judged by what a user sees, not by its coordinates: columns line up, scales stand
// beside the heights they name, texts fit, and nothing overlaps that was not meant to.
TEST_F(Form1Test, LayoutHoldsItsDesignedRelations) {
  EXPECT_EQ(form_->size(), QSize(599, 310));
  auto at = [&](const char* name) { return form_->findChild<QWidget*>(name)->geometry(); };
  // The graph's inner area, and the scale labels beside the heights they name (twips from the
  // top of the drawing), losses in red to its left, responses in green to its right.
  const QRect inner = form_->Picture1->contentsRect().translated(at("Picture1").topLeft());
  EXPECT_EQ(inner.size(), QSize(329, 263));
  const std::pair<const char*, double> marks[] = {
      {"Label16", LossY(100)},      {"Label17", LossY(50)},      {"Label18", LossY(0)},
      {"Label19", ResponseY(2000)}, {"Label28", ResponseY(500)}, {"Label24", ResponseY(200)},
      {"Label23", ResponseY(100)},  {"Label22", ResponseY(50)},  {"Label21", ResponseY(0)}};
  for (const auto& [name, y] : marks) {
    const QRect label = at(name);
    const bool loss = form_->findChild<QLabel*>(name)->text().endsWith('%');
    EXPECT_NEAR(label.center().y(), inner.top() + y / 15, 6) << name;
    EXPECT_EQ(TextColour(form_->findChild<QLabel*>(name)), loss ? kRed : kGreen) << name;
    EXPECT_TRUE(loss ? label.right() < inner.left() : label.left() > inner.right()) << name;
  }
  // Hour labels and scroll buttons in one row under the graph; the hour labels centred under the
  // moments they name (two hours back, one, now), the buttons side by side in the order << < > >>.
  for (const auto& [name, x] : {std::pair{"lh1", 0.0}, {"lh2", 0.5}, {"lh3", 1.0}}) {
    EXPECT_NEAR(at(name).center().x(), inner.left() + x * inner.width(), 5) << name;
    EXPECT_EQ(at(name).top(), form_->Command6->y()) << name;
  }
  const QStringList arrows = {"<<", "<", ">", ">>"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ScrollButtons()[i]->text(), arrows[i]);
    EXPECT_EQ(ScrollButtons()[i]->geometry(), form_->Command6->geometry().translated(24 * i, 0));
  }
  // The left column shares its left and right edges; the host box's top is the graph's.
  for (const char* name : {"Label1", "Command1", "Label14", "Frame2"}) {
    EXPECT_EQ(at(name).left(), at("Frame1").left()) << name;
  }
  for (const char* name : {"URL", "Command2", "Frame2"}) {
    EXPECT_EQ(at(name).right(), at("Frame1").right()) << name;
  }
  EXPECT_EQ(at("URL").top(), at("Picture1").top());
  EXPECT_EQ(at("Frame2").size(), at("Frame1").size());
  // Every text fits its label, every label lies inside its frame or window ("2000ms" runs to the
  // window's edge), and no two controls overlap by more than a shared edge (in a frame a caption
  // lies under its value, as designed; the tick marks touch the graph).
  for (const QLabel* label : form_->findChildren<QLabel*>()) {
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()) ||
                label == form_->findChild<QLabel*>("Label19"))
        << label->objectName().toStdString();
  }
  QWidgetList controls = form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  erase_if(controls,
           [](QWidget* w) { return w->isWindow() || w->objectName().startsWith("Line"); });
  for (const QWidget* a : controls) {
    for (const QWidget* b : controls) {
      const QRect both = a->geometry() & b->geometry();
      EXPECT_TRUE(a == b || both.width() <= 1 || both.height() <= 1)
          << a->objectName().toStdString() << " / " << b->objectName().toStdString();
    }
  }
}

TEST_F(Form1Test, StartsIdleOrRunsTheCommandLinesHostFromTheTray) {
  form_->Load("");
  EXPECT_EQ(form_->URL->text(), "www.wikipedia.org");
  ExpectRunning(false);
  EXPECT_EQ(Shown(), QStringList({kStopped, "0%", "0ms", "0%", "0ms", ""}));
  EXPECT_EQ(TextColour(form_->Label15), QColor(0, 0, 0));
  EXPECT_EQ(form_->Combo1->currentText(), QString::fromUtf8("Historiques...(date d\u00e9but)"));
  EXPECT_EQ(Graph(), "    |");
  EXPECT_TRUE(form_->Command7->isHidden() && !form_->csys->intray() && echo_.hosts.empty());
  EXPECT_EQ(HistoryLines(), Strings{kMarker});

  NewWindow();
  form_->csys->SetAvailableForTesting(true);
  form_->Load("10.0.0.1");
  EXPECT_EQ(form_->URL->text(), "10.0.0.1");
  ExpectRunning(true);
  EXPECT_EQ(form_->Label13->text(), "06/12/2026 - 14:04");
  EXPECT_EQ(HistoryLines(),
            (Strings{kMarker, kMarker, "+++++ H\xF4te : 10.0.0.1", "***** 06/12/2026 - 14:04:30"}));
  EXPECT_TRUE(form_->isHidden() && form_->isMinimized() && form_->csys->intray());
  // The first tick comes a second later and sends to the host as typed; then one a minute, kept
  // to the timer's rhythm however late a tick is handled.
  EXPECT_EQ(form_->Timer1->interval(), 1000);
  EXPECT_TRUE(WaitUntil([&] { return !echo_.hosts.empty(); }, 3000));
  EXPECT_EQ(echo_.hosts[0], "10.0.0.1");
  EXPECT_EQ(std::pair(form_->Timer1->interval(), form_->Timer1->timerType()),
            std::pair(60000, Qt::PreciseTimer));
  Answer(Repeat(24, "20 ms"));
  EXPECT_EQ(Shown().last(), "0% 20ms - ");  // the tip follows while in the tray
  QThread::msleep(300);
  form_->OnTimer1Tick();
  EXPECT_LE(form_->Timer1->remainingTime(), 59750);

  // Without a notification area the window stays minimised in the task bar, and the run goes on.
  NewWindow();
  form_->csys->SetAvailableForTesting(false);
  form_->Load("10.0.0.1");
  form_->show();
  EXPECT_TRUE(form_->isMinimized() && form_->isVisible() && form_->Timer1->isActive());
}

TEST_F(Form1Test, ABurstShowsItsProgressThenItsFigures) {
  ReplayRun(40);
  form_->Command1->click();
  form_->OnTimer1Tick();
  EXPECT_EQ(TextColour(form_->Label15), kRed);
  EXPECT_EQ(form_->series().Item(0)->stamp, "...");
  EXPECT_EQ(Graph(), "21:59 22:59 23:59 06/12/2026 |");  // the last drawing, no scrolling
  EXPECT_FALSE(form_->Command7->isEnabled());
  for (int i = 1; i <= 24; ++i) {
    EXPECT_EQ(form_->Label15->text(), QString("en cours (%1%)").arg(i * 100 / 24));
    Answer({"20 ms"});
    EXPECT_EQ(form_->series().Item(0)->response, "20");  // rewritten after every request
  }
  EXPECT_TRUE(echo_.pending.empty());
  EXPECT_EQ(Shown(), QStringList({kWaiting, "0%", "20ms", "0%", "20ms", "0% 20ms - "}));
  EXPECT_EQ(TextColour(form_->Label15), QColor(192, 64, 0));
  EXPECT_TRUE(form_->Command7->isEnabled());

  clock_.Set(LocalTime{2026, 12, 6, 14, 5, 30});
  RunBurst(Repeat(24, "Timeout"));
  // Since the start: (0 + 100) / 2 and (20 + 2000) / 2, the 2000 counting.
  EXPECT_EQ(Shown(), QStringList({kWaiting, "100%", "2000ms", "50%", "1010ms", "100% 2000ms - "}));
  Strings mixed = Repeat(7, "Timeout");
  for (int i = 0; i < 17; ++i) mixed.push_back(i < 16 ? "23 ms" : "32 ms");  // 400 ms in all
  RunBurst(mixed);
  EXPECT_EQ(Shown().mid(1, 4), QStringList({"29%", "23ms", "43%", "681ms"}));
  EXPECT_EQ(Graph(), "12:05 13:05 14:05 06/12/2026 |");  // the live run, not the replay
  // A measurement under way: a redraw that meets its placeholder keeps the last drawing, and a
  // tick during a burst starts no second burst.
  form_->OnTimer1Tick();
  form_->OnTimer1Tick();
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
  EXPECT_EQ(HistoryLines().size(), 4u);  // marker, host, header, the first burst's line

  // Stopped after the 24th reply, before the burst ends: nothing written either.
  form_->Command1->click();
  RunBurst(Repeat(23, "10 ms"));
  echo_.Complete("10 ms");
  form_->Stop();
  QCoreApplication::processEvents();
  EXPECT_EQ(Shown(), stopped);
  EXPECT_EQ(HistoryLines().size(), 6u);  // the second run's host and header only

  // GO again before the old burst's request has come back: the old burst goes no further, and
  // the new run's burst is its own.
  form_->Command1->click();
  RunBurst({"10 ms", "10 ms"});
  form_->Command2->click();
  form_->Command1->click();
  Answer({"999 ms"});
  EXPECT_TRUE(echo_.pending.empty() && form_->series().replies().empty());
  EXPECT_EQ(form_->series().Count(), 0);
  RunBurst(Repeat(24, "40 ms"));
  EXPECT_EQ(form_->series().Count(), 1);
  EXPECT_EQ(Shown().mid(1, 4), QStringList({"0%", "40ms", "0%", "40ms"}));
}

TEST_F(Form1Test, HistoryLinesAndTheRunListWithRegionalSeparators) {
  clock_.SetSeparators(Separators{'.', '.'});
  form_->Load("");
  form_->Command1->click();
  RunBurst(Repeat(18, "20 ms"));
  Answer(Repeat(6, "Timeout"));
  form_->Command2->click();
  // The host as typed, on the line before the header; in the file's Windows-1252.
  EXPECT_EQ(HistoryLines(),
            (Strings{"++++++++++ D\xE9marrage de l'application : 06.12.2026 - 14.04.30",
                     "+++++ H\xF4te : www.wikipedia.org", "***** 06.12.2026 - 14.04.30",
                     "06.12.2026-14.04 25 20"}));
  EXPECT_EQ(QStringList({form_->Label13->text(), form_->Label11->text()}),
            QStringList(2, "06.12.2026 - 14.04"));
  // The stopped run is entry 0 of the rebuilt list; one stopped before its first measurement is
  // not offered.
  EXPECT_EQ(form_->Combo1->itemText(0), "06.12.2026 - 14.04.30");
  EXPECT_EQ(form_->Combo1->itemData(0, Qt::ToolTipRole).toString(),
            QString::fromUtf8("H\u00f4te : www.wikipedia.org"));
  clock_.Set(LocalTime{2026, 12, 6, 15, 0, 0});
  form_->URL->setText(QString::fromUtf8("b\u00fccher.example \u4e2d"));
  form_->Command1->click();
  form_->Command2->click();
  EXPECT_EQ(HistoryLines().back(), "***** 06.12.2026 - 15.00.00");
  EXPECT_EQ(HistoryLines().end()[-2],
            "+++++ H\xF4te : b\xFC"
            "cher.example ?");
  EXPECT_EQ(form_->Combo1->count(), 1);
  emit form_->Combo1->activated(0);
  EXPECT_EQ(Graph(), "12.04 13.04 14.04 06.12.2026 |");
}

TEST_F(Form1Test, ChoosingARunReplaysItAndOnlyIt) {
  WriteHistory(
      "***** 05/12/2026 - 09:15:02\r\n05/12/2026-09:15 0 23\r\n05/12/2026-09:16 4 25\r\n"
      "+++++ H\xF4te : 192.0.2.7\r\n"
      "***** 05/12/2026 - 10:00:00\r\n05/12/2026-10:00 50 40\r\n05/12/2026-10:01 0 41\r\n"
      "garbled 0 20\r\n***** 05/12/2026 - 11:00:00\r\n05/12/2026-1x:00 0 20\r\n");
  form_->Load("");
  const QImage grid = form_->Picture1->image();
  ASSERT_EQ(form_->Combo1->count(), 3);
  // Each run's tip names its host, when the history does.
  EXPECT_EQ(form_->Combo1->itemData(1, Qt::ToolTipRole).toString(),
            QString::fromUtf8("H\u00f4te : 192.0.2.7"));
  EXPECT_EQ(form_->Combo1->itemData(2, Qt::ToolTipRole).toString(),
            QString::fromUtf8("H\u00f4te : h\u00f4te inconnu"));
  // Typing a key and pressing Enter (either key) loads nothing; other keys type as usual.
  form_->Combo1->setEditText("05/12/2026 - 09:15:0");
  QTest::keyClicks(form_->Combo1->lineEdit(), "2");
  EXPECT_EQ(form_->Combo1->currentText(), "05/12/2026 - 09:15:02");
  QTest::keyClick(form_->Combo1->lineEdit(), Qt::Key_Return);
  QTest::keyClick(form_->Combo1->lineEdit(), Qt::Key_Enter);
  EXPECT_EQ(form_->series().Count(), 0);

  emit form_->Combo1->activated(2);
  ASSERT_EQ(form_->series().Count(), 2);
  EXPECT_EQ(*form_->series().Item(0), (Measurement{"05/12/2026-09:16", "4", "25"}));
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
  EXPECT_EQ(GraphPictureName(*form_), "trelvane-192.0.2.7-2026-12-05-1001.png");
  // Nothing in it can be drawn: the empty grid, not the run before.
  emit form_->Combo1->activated(0);
  EXPECT_EQ(form_->Picture1->image(), grid);
  EXPECT_EQ(Graph(), "    |");
}

TEST_F(Form1Test, AReplayDrawsTheGraphAndAStoppedBurstTouchesItNot) {
  ReplayRun(100);
  EXPECT_EQ(Graph(), "21:59 22:59 23:59 06/12/2026 | << <");
  // A major grid line at 2000 twips (row 133), clear of any bar; and the 50 % bar of the
  // measurement ten minutes before the newest, at x = 5000 - 11 W (column 302 or 303).
  const QImage image = form_->Picture1->image();
  EXPECT_EQ(image.pixelColor(10, 133), kGreen);
  const QColor bar(160, 0, 0);
  EXPECT_TRUE(image.pixelColor(302, 190) == bar || image.pixelColor(303, 190) == bar);
  EXPECT_NE(image.pixelColor(290, 190), bar);

  form_->Command1->click();
  RunBurst({"10 ms", "10 ms"});
  // A press on a greyed-out scroll button scrolls nothing.
  for (QPushButton* b : ScrollButtons()) {
    Press(b, Qt::LeftButton);
    EXPECT_FALSE(b->isEnabled() || form_->Timer2->isActive()) << b->objectName().toStdString();
  }
  form_->Command2->click();  // while request 3 waits
  emit form_->Combo1->activated(0);
  Answer({"50 ms"});
  EXPECT_TRUE(form_->series().replies().empty());
  EXPECT_EQ(form_->series().Count(), 100);
  EXPECT_EQ(form_->Picture1->image(), image);

  // The graph as a picture: from the percent scale (x 2880 twips) to the window's edge, from
  // "2000ms" (y 195) to the bottom of the hour labels (y 4575), with the graph as drawn (its inner
  // area starts at 226, 18 in the window); copied.
  EXPECT_EQ(GraphPictureName(*form_), "trelvane-2026-12-06-2359.png");
  const QImage picture = GraphPicture(*form_);
  EXPECT_EQ(picture.size(), QSize(599 - 192, 305 - 13));
  EXPECT_EQ(picture.pixelColor(QPoint(302 + 226 - 192, 190 + 18 - 13)), image.pixelColor(302, 190));
  form_->Picture1->findChild<QMenu*>("GraphMenu")->actions().at(0)->trigger();  // Copier
  EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), picture);
}

TEST_F(Form1Test, ScrollingByHoldingAButtonOnly) {
  ReplayRun(100);
  const QImage newest = form_->Picture1->image();
  // From the keyboard a button only sets the step; in the run list's text, a press scrolls nothing.
  form_->Command6->setFocus();
  QTest::keyClick(form_->Command6, Qt::Key_Space);
  Press(form_->Combo1->lineEdit(), Qt::LeftButton);
  EXPECT_EQ(form_->scroll_step(), 20);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->Picture1->image(), newest);

  Press(form_->Command4, Qt::LeftButton);  // "<"
  EXPECT_EQ(std::pair(form_->Timer2->isActive(), form_->Timer2->interval()), std::pair(true, 50));
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

  // ">>" and ">" go back by 20 and by 1.
  Press(form_->Command5, Qt::LeftButton);
  form_->OnTimer2Tick();
  Press(form_->Command3, Qt::LeftButton);
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->scroll_offset(), 59);
  // A real hold: the repeat ticks by itself; a replay ends it and shows the run from its end.
  Press(form_->Command4, Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return form_->scroll_offset() >= 3; }, 2000));
  emit form_->Combo1->activated(0);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->scroll_offset(), 0);
}

TEST_F(Form1Test, FailuresAreSaidAndTheRunGoesOn) {
  // An unwritable history: for root, whom modes do not stop, a folder in the file's place.
  ASSERT_TRUE(geteuid() == 0
                  ? QDir(dir_.path()).mkdir("trelvane.txt")
                  : QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner));
  form_->Load("");
  EXPECT_EQ(form_->Label15->text(), kFailed);
  // The tip names the file and says why, in French.
  const QString tip = form_->Label15->toolTip();
  EXPECT_TRUE(tip.contains(path_) && tip.contains(geteuid() == 0 ? "ordinaire" : "permission"))
      << tip.toStdString();
  EXPECT_EQ(form_->Combo1->count(), 0);

  // No ICMP privilege wins over it, and the tip carries both. What was measured is shown and kept
  // in memory, and the run goes on.
  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer(Repeat(24, "Err"), true);
  const QString not_permitted = QString::fromUtf8("Ping non autoris\u00e9 !");
  EXPECT_EQ(Shown().mid(0, 2), QStringList({not_permitted, "100%"}));
  EXPECT_EQ(TextColour(form_->Label15), kRed);
  for (const QString& part :
       {path_, QString("sysctl -w net.ipv4.ping_group_range"), QString("setcap")}) {
    EXPECT_TRUE(form_->Label15->toolTip().contains(part)) << part.toStdString();
  }
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
  EXPECT_EQ(form_->alerts().condition(), LinkCondition::kUp);

  // A name that does not exist is said as such, with the text typed, and is no outage however
  // long; a real loss afterwards is.
  for (int burst = 0; burst < 2; ++burst) {
    form_->OnTimer1Tick();
    Answer(Repeat(24, "Err"), false, true);
  }
  EXPECT_EQ(Shown().mid(0, 2), QStringList({QString::fromUtf8("H\u00f4te introuvable !"), "100%"}));
  EXPECT_EQ(TextColour(form_->Label15), kRed);
  EXPECT_TRUE(form_->Label15->toolTip().contains("\u00ab " + form_->URL->text() + " \u00bb"));
  EXPECT_EQ(form_->alerts().condition(), LinkCondition::kUnknown);
  RunBurst(Repeat(24, "Timeout"));
  RunBurst(Repeat(24, "Timeout"));
  EXPECT_EQ(form_->alerts().condition(), LinkCondition::kDown);
  form_->Command2->click();
  EXPECT_EQ(form_->alerts().condition(), LinkCondition::kUnknown);
  // "Alertes" in the tray menu turns the notifications off.
  form_->findChild<QMenu*>("TrayMenu")->actions().at(1)->trigger();
  EXPECT_FALSE(form_->alerts().enabled());
  QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The settings file: the defaults where it is missing, unreadable or holds nonsense, never a
// failure; "Alertes" is saved in it.
TEST(AlertSettingsTest, DefaultsForWhatDoesNotReadAndTheToggleLasts) {
  QTemporaryDir dir;
  const QString path = dir.filePath("trelvane/trelvane.conf");
  QDir(dir.path()).mkpath("trelvane");
  const auto load = [&](const QByteArray& text) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    const AlertSettings s = LoadAlertSettings(path);
    return std::tuple(s.enabled, s.down_after, s.degraded_threshold);
  };
  EXPECT_EQ(LoadAlertSettings(dir.filePath("none.conf")).down_after, 2);
  EXPECT_EQ(load("[alerts]\nenabled=false\ndown_after=5\ndegraded_threshold=10\n"),
            std::tuple(false, 5, 10));
  EXPECT_EQ(load("[alerts]\nenabled=peut-\xc3\xaatre\ndown_after=0\ndegraded_threshold=101\n"),
            std::tuple(true, 2, 25));
  EXPECT_EQ(load(QByteArray("\x00\xff[[[=\n", 6)), std::tuple(true, 2, 25));
  ASSERT_TRUE(SaveAlertsEnabled(path, false));
  EXPECT_FALSE(LoadAlertSettings(path).enabled);
  QFile::remove(path);
  QDir(dir.path()).mkpath("trelvane/trelvane.conf");  // a folder in its place
  EXPECT_EQ(LoadAlertSettings(path).down_after, 2);
}

// Counts the window-state changes the window goes through.
struct StateChanges : QObject {
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    count += event->type() == QEvent::WindowStateChange;
    return false;
  }
};

TEST_F(Form1Test, ToTheTrayAndBackWhereItWasAndClosing) {
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
  EXPECT_TRUE(form_->isVisible() && !form_->isMinimized() && !form_->csys->intray());
  EXPECT_EQ(form_->pos(), place);
  EXPECT_EQ(form_->Picture1->image(), drawing);
  // Minimised by the user: one state change, which hides it; Hide sets no state again.
  changes.count = 0;
  form_->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(form_->isHidden() && form_->csys->intray());
  form_->Hide();
  EXPECT_EQ(changes.count, 1);
  form_->Restore();

  // Return in the host box starts a run as GO does; closing the window ends the program at once,
  // in the middle of a burst, writing nothing.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form_->URL)->text(QAccessible::Name), "URL:");
  QTest::keyClick(form_->URL, Qt::Key_Return);
  ExpectRunning(true);
  RunBurst(Repeat(10, "20 ms"));
  const Strings before = HistoryLines();
  bool closed = false;
  QObject::connect(form_.get(), &Form1::Closed, [&] { closed = true; });
  form_->close();
  EXPECT_TRUE(closed);
  EXPECT_EQ(HistoryLines(), before);
}

TEST(ThreadedEchoRunnerTest, ResultComesBackOnTheUiThreadWithoutBlockingIt) {
  struct SlowService final : EchoService {
    Address ParseAddress(std::string_view) override { return 0x0100007F; }
    Address LookupHost(std::string_view, NameError*) override { return 0; }
    EchoReply SendEcho(const EchoRequest&) override {
      return QThread::msleep(300), EchoReply{EchoStatus::kSuccess, 7};
    }
  };
  auto runner = std::make_unique<ThreadedEchoRunner>(std::make_shared<SlowService>());
  std::string result;
  QElapsedTimer timer;
  timer.start();
  runner->Ping("127.0.0.1", [&](const PingResult& r) {
    result = r.text + (QThread::currentThread() == qApp->thread() ? " on the UI thread" : "");
  });
  EXPECT_LT(timer.elapsed(), 100);
  EXPECT_TRUE(WaitUntil([&] { return !result.empty(); }, 3000));
  EXPECT_EQ(result, "7 ms on the UI thread");
  // A runner that goes away while a request waits drops the late result.
  bool called = false;
  runner->Ping("127.0.0.1", [&](const PingResult&) { called = true; });
  runner.reset();
  WaitUntil([] { return false; }, 500);
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace trelvane

// An offscreen QApplication around every test.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
