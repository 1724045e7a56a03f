// The main window driven as a user drives it, offscreen, with a fake echo runner and a fake clock.
#include "ui/form1.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>
#include <thread>

#include "fake_clock.h"
#include "fake_echo_runner.h"
#include "ui/graph_picture.h"
#include "ui/graph_view.h"
#include "ui/history_lock.h"
#include "ui/systray.h"
#include "ui/tray_menu.h"

namespace trelvane {
namespace {

using testing::FakeClock;
using testing::FakeEchoRunner;

const QString kCaption = QString::fromUtf8("Trelvane v0.4 par vElUdrak");
const QString kStopped = QString::fromUtf8("Arr\u00eat");
const QString kWaiting = QString::fromUtf8("mesure dans moins d'1 mn...");

const std::string kMarker = "++++++++++ D\xE9marrage de l'application : 06/12/2026 - 14:04:30";
const std::string kHeader = "***** 06/12/2026 - 14:04:30";

QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

void Yield() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

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

  template <typename T>
  T* Control(const char* name) const {
    T* control = form_->findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QString Text(const char* name) const { return Control<QLabel>(name)->text(); }

  // Starts a run and lets its first tick come.
  void StartRun() {
    form_->Load("");
    form_->Command1->click();
    form_->OnTimer1Tick();
  }

  // Answers the requests of the burst in progress with `results`, one after another.
  void Answer(const std::vector<std::string>& results) {
    for (const std::string& result : results) {
      ASSERT_EQ(echo_.pending.size(), 1u);
      echo_.Complete(result);
      Yield();
    }
  }

  // The run state as the enabled controls, the timer and the flag tell it.
  void ExpectRunning(bool running) const {
    EXPECT_EQ(form_->Command1->isEnabled(), !running);
    EXPECT_EQ(form_->Combo1->isEnabled(), !running);
    EXPECT_EQ(form_->URL->isEnabled(), !running);
    EXPECT_EQ(form_->Command2->isEnabled(), running);
    EXPECT_EQ(form_->Timer1->isActive(), running);
    EXPECT_EQ(form_->stop_requested(), !running);
  }

  void RunBurst(const std::vector<std::string>& results) {
    form_->OnTimer1Tick();
    Answer(results);
  }

  QTemporaryDir dir_;
  std::string history_path_;
  FakeClock clock_{LocalTime{2026, 12, 6, 14, 4, 30}};
  FakeEchoRunner echo_;
  std::unique_ptr<Form1> form_;
};

std::vector<std::string> Repeat(int count, const std::string& text) {
  return std::vector<std::string>(count, text);
}

// A stored run of `count` measurements a minute apart, the newest at 23:59, loss 50 % each tenth
// minute and 0 % otherwise, 20 ms each; replayed onto the graph.
void WriteRun(const std::string& path, int count) {
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("***** 06/12/2026 - 08:00:00\r\n");
  for (int i = count - 1; i >= 0; --i) {
    const int minute = 23 * 60 + 59 - i;
    file.write(QString("06/12/2026-%1:%2 %3 20\r\n")
                   .arg(minute / 60, 2, 10, QChar('0'))
                   .arg(minute % 60, 2, 10, QChar('0'))
                   .arg(i % 10 == 0 ? 50 : 0)
                   .toLatin1());
  }
}

void Press(QWidget* button, Qt::MouseButton which, QEvent::Type type = QEvent::MouseButtonPress) {
  QMouseEvent event(type, QPointF(3, 3), button->mapToGlobal(QPointF(3, 3)), which,
                    type == QEvent::MouseButtonPress ? which : Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(button, &event);
}

TEST_F(Form1Test, EveryControlHasItsDesign) {
  const QColor none;
  const QColor green(0, 128, 0), red(192, 0, 0), grey(128, 128, 128), black(0, 0, 0);
  struct Design {
    const char* name;
    const char* container;
    const char* text;
    int left, top, width, height;
    QColor colour;
    bool right;
  };
  const Design designs[] = {
      {"Combo1", "Form1", "", 480, 4080, 2175, 315, none, false},
      {"Command6", "Form1", "<<", 3960, 4320, 375, 255, none, false},
      {"Command5", "Form1", ">>", 5040, 4320, 375, 255, none, false},
      {"Command4", "Form1", "<", 4320, 4320, 375, 255, none, false},
      {"Command3", "Form1", ">", 4680, 4320, 375, 255, none, false},
      {"Frame2", "Form1", "Depuis le d\u00e9but", 360, 2880, 2415, 1095, none, false},
      {"Label8", "Frame2", "Tps de r\u00e9ponse :", 240, 720, 1335, 255, none, false},
      {"Label13", "Frame2", "", 840, 240, 1455, 255, none, false},
      {"Label12", "Frame2", "Packet Loss :", 240, 480, 1695, 255, none, false},
      {"Label6", "Frame2", "Date :", 240, 240, 1575, 255, none, false},
      {"Label9", "Frame2", "0ms", 1440, 720, 855, 255, green, true},
      {"Label7", "Frame2", "0%", 1800, 480, 495, 255, red, true},
      {"Frame1", "Form1", "Derni\u00e8re mesure", 360, 1680, 2415, 1095, none, false},
      {"Label11", "Frame1", "", 840, 240, 1455, 255, none, false},
      {"Label10", "Frame1", "Date :", 240, 240, 1815, 255, none, false},
      {"Label5", "Frame1", "0ms", 1560, 720, 735, 255, green, true},
      {"Label4", "Frame1", "Tps de r\u00e9ponse :", 240, 720, 1335, 255, none, false},
      {"Label3", "Frame1", "0%", 1800, 480, 495, 255, red, true},
      {"Label2", "Frame1", "Packet Loss :", 240, 480, 1695, 255, none, false},
      {"Picture1", "Form1", "", 3360, 240, 5000, 4000, none, false},
      {"URL", "Form1", "", 840, 240, 1935, 285, none, false},
      {"Command2", "Form1", "Stop", 1680, 720, 1095, 375, none, false},
      {"Command1", "Form1", "GO", 360, 720, 1095, 375, none, false},
      {"lh2", "Form1", "", 5610, 4320, 495, 255, none, false},
      {"lh4", "Form1", "", 6120, 4320, 1815, 255, grey, false},
      {"lh3", "Form1", "", 8055, 4320, 495, 255, none, false},
      {"Label28", "Form1", "500ms", 8400, 600, 495, 255, green, false},
      {"lh1", "Form1", "", 3120, 4320, 495, 255, none, false},
      {"Label24", "Form1", "200ms", 8400, 960, 495, 255, green, false},
      {"Label23", "Form1", "100ms", 8400, 1350, 495, 255, green, false},
      {"Label22", "Form1", "50ms", 8400, 2160, 495, 255, green, false},
      {"Label21", "Form1", "0ms", 8400, 4080, 495, 255, green, false},
      {"Label19", "Form1", "2000ms", 8400, 195, 615, 255, green, false},
      {"Label18", "Form1", "0%", 2880, 4080, 465, 225, red, true},
      {"Label17", "Form1", "50%", 2880, 2160, 465, 225, red, true},
      {"Label16", "Form1", "100%", 2880, 240, 465, 225, red, true},
      {"Label14", "Form1", "Statut :", 360, 1320, 615, 255, none, false},
      {"Label15", "Form1", "", 1080, 1320, 2175, 255, black, false},
      {"Label1", "Form1", "URL:", 360, 300, 375, 195, none, false},
      {"Command7", "Form1", "R\u00e9duire", 8400, 2760, 855, 375, none, false},
  };
  const QColor default_text = QApplication::palette().color(QPalette::WindowText);
  auto px = [](int twips) { return qRound(twips / 15.0); };
  for (const Design& d : designs) {
    SCOPED_TRACE(d.name);
    QWidget* w = form_->findChild<QWidget*>(d.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), d.container);
    EXPECT_EQ(w->geometry(), QRect(px(d.left), px(d.top), px(d.width), px(d.height)));
    QString text;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      text = label->text();
      EXPECT_EQ(TextColour(label), d.colour.isValid() ? d.colour : default_text);
      EXPECT_EQ(bool(label->alignment() & Qt::AlignRight), d.right);
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      text = button->text();
    } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
      text = frame->title();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      text = edit->text();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      text = combo->currentText();
      EXPECT_TRUE(combo->isEditable());
    }
    EXPECT_EQ(text, QString::fromUtf8(d.text));
  }
  EXPECT_EQ(form_->objectName(), "Form1");
  EXPECT_EQ(form_->windowTitle(), kCaption);
  EXPECT_EQ(form_->size(), QSize(599, 310));
  EXPECT_TRUE(form_->Command7->isHidden());
  EXPECT_EQ(form_->findChild<QWidget*>("Line2")->geometry(), QRect(224, 280, 1, 8));
  EXPECT_EQ(form_->findChild<QWidget*>("Line3")->geometry(), QRect(554, 280, 1, 8));
  EXPECT_EQ(form_->Timer1->interval(), 60000);
  EXPECT_EQ(form_->Timer2->interval(), 50);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->csys->objectName(), "csys");

  // Keyboard focus follows the designed order (inner widgets such as the combo box's editor have
  // no name and are passed over).
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

TEST_F(Form1Test, EmptyCommandLineComesUpIdle) {
  form_->Load("");
  EXPECT_EQ(form_->URL->text(), "www.wikipedia.org");
  ExpectRunning(false);
  EXPECT_EQ(form_->Label15->text(), kStopped);
  EXPECT_EQ(TextColour(form_->Label15), QColor(0, 0, 0));
  EXPECT_EQ(form_->Combo1->currentText(), QString::fromUtf8("Historiques...(date d\u00e9but)"));
  for (QPushButton* b : {form_->Command3, form_->Command4, form_->Command5, form_->Command6}) {
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  }
  EXPECT_EQ(form_->csys->TrayTip(), kCaption);
  EXPECT_FALSE(form_->csys->intray());
  EXPECT_TRUE(echo_.hosts.empty());
  EXPECT_EQ(HistoryLines(), std::vector<std::string>{kMarker});
}

TEST_F(Form1Test, HostOnTheCommandLineStartsARunInTheTray) {
  form_->csys->SetAvailableForTesting(true);
  form_->Load("10.0.0.1");
  EXPECT_EQ(form_->URL->text(), "10.0.0.1");
  ExpectRunning(true);
  EXPECT_EQ(form_->Timer1->interval(), 1000);
  EXPECT_EQ(form_->Label13->text(), "06/12/2026 - 14:04");
  EXPECT_EQ(HistoryLines(), (std::vector<std::string>{kMarker, kHeader}));
  EXPECT_TRUE(form_->isHidden());
  EXPECT_TRUE(form_->isMinimized());
  EXPECT_TRUE(form_->csys->intray());
  EXPECT_EQ(form_->csys->TrayTip(), kCaption);
  // The first tick comes a second later, and sends to the host as typed.
  EXPECT_TRUE(WaitUntil([&] { return !echo_.hosts.empty(); }, 3000));
  EXPECT_EQ(echo_.hosts[0], "10.0.0.1");
  EXPECT_EQ(form_->Timer1->interval(), 60000);
  // The tip follows the measurements while the window is in the tray.
  Answer(Repeat(24, "20 ms"));
  EXPECT_EQ(form_->csys->TrayTip(), "0% 20ms - " + kCaption);
}

TEST_F(Form1Test, ProgressTextsOfABurst) {
  StartRun();
  EXPECT_EQ(TextColour(form_->Label15), QColor(192, 0, 0));
  EXPECT_EQ(form_->series().Count(), 1);
  EXPECT_EQ(form_->series().Item(0)->stamp, "...");
  for (QPushButton* b :
       {form_->Command3, form_->Command4, form_->Command5, form_->Command6, form_->Command7}) {
    EXPECT_FALSE(b->isEnabled());
  }
  const int expected[] = {4,  8,  12, 16, 20, 25, 29, 33, 37, 41, 45, 50,
                          54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95, 100};
  for (int percent : expected) {
    ASSERT_EQ(echo_.pending.size(), 1u);
    EXPECT_EQ(form_->Label15->text(), QString("en cours (%1%)").arg(percent));
    echo_.Complete("20 ms");
    // The newest entry is rewritten after every request.
    EXPECT_EQ(form_->series().Item(0)->response, "20");
    Yield();
  }
  EXPECT_TRUE(echo_.pending.empty());
  EXPECT_EQ(form_->Label15->text(), kWaiting);
  EXPECT_EQ(TextColour(form_->Label15), QColor(192, 64, 0));
  EXPECT_TRUE(form_->Command7->isEnabled());
}

TEST_F(Form1Test, FiguresInLabelsCaptionAndTip) {
  StartRun();
  Answer(Repeat(24, "20 ms"));
  EXPECT_EQ(form_->Label3->text(), "0%");
  EXPECT_EQ(form_->Label5->text(), "20ms");
  EXPECT_EQ(form_->Label11->text(), "06/12/2026 - 14:04");
  EXPECT_EQ(form_->windowTitle(), "0% 20ms - " + kCaption);
  EXPECT_EQ(form_->csys->TrayTip(), form_->windowTitle());
  // After the first measurement the since-start figures equal the latest.
  EXPECT_EQ(form_->Label7->text(), "0%");
  EXPECT_EQ(form_->Label9->text(), "20ms");

  clock_.Set(LocalTime{2026, 12, 6, 14, 5, 30});
  RunBurst(Repeat(24, "Timeout"));
  EXPECT_EQ(form_->Label3->text(), "100%");
  EXPECT_EQ(form_->Label5->text(), "2000ms");
  EXPECT_EQ(form_->windowTitle(), "100% 2000ms - " + kCaption);
  EXPECT_EQ(form_->Label7->text(), "50%");     // (0 + 100) / 2
  EXPECT_EQ(form_->Label9->text(), "1010ms");  // (20 + 2000) / 2: the 2000 counts

  std::vector<std::string> mixed = Repeat(7, "Timeout");
  for (int i = 0; i < 16; ++i) mixed.push_back("23 ms");
  mixed.push_back("32 ms");  // 17 answers, 400 ms in all
  RunBurst(mixed);
  EXPECT_EQ(form_->Label3->text(), "29%");
  EXPECT_EQ(form_->Label5->text(), "23ms");
  EXPECT_EQ(form_->Label7->text(), "43%");    // (0 + 100 + 29) / 3
  EXPECT_EQ(form_->Label9->text(), "681ms");  // (20 + 2000 + 23) / 3
  EXPECT_EQ(form_->series().Count(), 3);
  EXPECT_EQ(form_->series().Item(0)->stamp, "06/12/2026-14:05");
}

TEST_F(Form1Test, StopDuringABurstKeepsTheCountedRequests) {
  StartRun();
  Answer(Repeat(24, "10 ms"));
  const QString caption = form_->windowTitle();

  form_->OnTimer1Tick();
  Answer({"30 ms", "Timeout", "30 ms", "30 ms", "30 ms"});  // k = 5
  form_->Command2->click();                                 // while request 6 waits
  EXPECT_EQ(form_->Label15->text(), kStopped);
  EXPECT_FALSE(form_->Timer1->isActive());
  echo_.Complete("50 ms");
  Yield();

  EXPECT_TRUE(echo_.pending.empty()) << "no request after the stop";
  // The reply that came after the stop is neither recorded nor counted.
  EXPECT_EQ(form_->series().replies().size(), 5u);
  EXPECT_EQ(*form_->series().Item(0), (Measurement{"06/12/2026-14:04", "20", "30"}));
  EXPECT_EQ(form_->Label15->text(), kStopped);
  EXPECT_EQ(form_->Label3->text(), "0%");
  EXPECT_EQ(form_->Label5->text(), "10ms");
  EXPECT_EQ(form_->windowTitle(), caption);
  EXPECT_EQ(form_->csys->TrayTip(), caption);
  EXPECT_EQ(HistoryLines().size(), 3u);  // marker, header, the first burst's line

  // Stop after the 24th request, before the burst ends: nothing written either.
  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer(Repeat(23, "10 ms"));
  echo_.Complete("10 ms");
  form_->Stop();
  Yield();
  EXPECT_EQ(form_->Label15->text(), kStopped);
  EXPECT_EQ(form_->windowTitle(), caption);
  EXPECT_EQ(HistoryLines().size(), 4u);  // the second run's header only
}

TEST_F(Form1Test, NothingOfAStoppedBurstReachesAReplay) {
  WriteRun(history_path_, 40);
  form_->Load("");
  emit form_->Combo1->activated(0);
  const QImage replayed = form_->Picture1->image();
  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer({"10 ms", "10 ms"});
  // A press on a greyed-out scroll button, as the mouse delivers it, scrolls nothing.
  for (QPushButton* b : {form_->Command3, form_->Command4, form_->Command5, form_->Command6}) {
    ASSERT_FALSE(b->isEnabled());
    Press(b, Qt::LeftButton);
    EXPECT_FALSE(form_->Timer2->isActive()) << b->objectName().toStdString();
  }
  form_->Command2->click();  // while request 3 waits
  emit form_->Combo1->activated(0);
  echo_.Complete("50 ms");
  Yield();
  EXPECT_TRUE(form_->series().replies().empty());
  EXPECT_EQ(form_->series().Count(), 40);
  EXPECT_EQ(form_->Label15->text(), kStopped);
  EXPECT_EQ(form_->Picture1->image(), replayed);
  EXPECT_EQ(form_->lh3->text(), "23:59");
}

TEST_F(Form1Test, Timer1KeepsAMinuteBetweenTicks) {
  StartRun();
  EXPECT_EQ(form_->Timer1->timerType(), Qt::PreciseTimer);
  EXPECT_EQ(form_->Timer1->interval(), 60000);
  Answer(Repeat(24, "20 ms"));
  // A tick handled late must not push the next one back: the rhythm is the timer's.
  QThread::msleep(300);
  form_->OnTimer1Tick();
  EXPECT_LE(form_->Timer1->remainingTime(), 59750);
}

TEST_F(Form1Test, RegionalSeparatorsInEveryStamp) {
  clock_.SetSeparators(Separators{'.', '.'});
  StartRun();
  Answer(Repeat(24, "20 ms"));
  form_->Command2->click();
  EXPECT_EQ(HistoryLines(), (std::vector<std::string>{
                                "++++++++++ D\xE9marrage de l'application : 06.12.2026 - 14.04.30",
                                "***** 06.12.2026 - 14.04.30", "06.12.2026-14.04 0 20"}));
  EXPECT_EQ(form_->Label13->text(), "06.12.2026 - 14.04");
  EXPECT_EQ(form_->Label11->text(), "06.12.2026 - 14.04");
  emit form_->Combo1->activated(0);
  EXPECT_EQ(form_->series().Count(), 1);
  EXPECT_EQ(form_->lh3->text(), "14.04");
  EXPECT_EQ(form_->lh4->text(), "06.12.2026");
}

TEST_F(Form1Test, NoIcmpPrivilegeIsSaidPlainly) {
  // Unwritable history too: the privilege message wins, and the tip carries both.
  ASSERT_TRUE(QDir(dir_.path()).mkdir("trelvane.txt"));
  StartRun();
  for (int i = 0; i < 24; ++i) echo_.Complete("Err", true), Yield();
  const QString not_permitted = QString::fromUtf8("Ping non autoris\u00e9 !");
  EXPECT_EQ(form_->Label15->text(), not_permitted);
  EXPECT_EQ(TextColour(form_->Label15), QColor(192, 0, 0));
  const QString tip = form_->Label15->toolTip();
  EXPECT_TRUE(tip.contains("sysctl -w net.ipv4.ping_group_range") && tip.contains("setcap"));
  EXPECT_TRUE(tip.contains(QString::fromStdString(history_path_)));
  // The run goes on, and what was measured is shown.
  EXPECT_EQ(form_->Label3->text(), "100%");
  EXPECT_TRUE(form_->Timer1->isActive());
  form_->Command2->click();
  EXPECT_EQ(form_->Label15->text(), not_permitted);
  // Once the privilege is granted, the next burst clears it.
  form_->Command1->click();
  RunBurst(Repeat(24, "20 ms"));
  EXPECT_EQ(form_->Label15->text(), QString::fromUtf8("Historique non \u00e9crit !"));
  EXPECT_FALSE(form_->Label15->toolTip().contains("setcap"));
}

TEST_F(Form1Test, StopThenGoWhileARequestWaits) {
  StartRun();
  Answer({"10 ms", "10 ms", "10 ms"});
  form_->Command2->click();
  form_->Command1->click();  // GO again before request 4 of the old burst has come back
  EXPECT_EQ(form_->series().Count(), 0);

  echo_.Complete("999 ms");  // the old burst's reply
  Yield();
  EXPECT_TRUE(echo_.pending.empty()) << "the old burst goes no further";
  EXPECT_EQ(form_->series().Count(), 0);
  EXPECT_TRUE(form_->series().replies().empty());
  EXPECT_EQ(form_->Label15->text(), kStopped);

  // The new run's first tick runs a burst of its own, untouched by the old one.
  form_->OnTimer1Tick();
  form_->OnTimer1Tick();  // a tick during a burst starts no second burst
  EXPECT_EQ(echo_.pending.size(), 1u);
  Answer(Repeat(24, "40 ms"));
  EXPECT_EQ(form_->series().Count(), 1);
  EXPECT_EQ(form_->Label5->text(), "40ms");
  EXPECT_EQ(form_->Label9->text(), "40ms");
}

TEST_F(Form1Test, HistoryGainsMarkerHeaderAndMeasurementLines) {
  form_->Load("");
  EXPECT_EQ(HistoryLines(), std::vector<std::string>{kMarker});

  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer(Repeat(18, "20 ms"));
  Answer(Repeat(6, "Timeout"));
  form_->Command2->click();
  EXPECT_EQ(HistoryLines(), (std::vector<std::string>{kMarker, kHeader, "06/12/2026-14:04 25 20"}));
  // The stopped run is entry 0 of the rebuilt list.
  ASSERT_GE(form_->Combo1->count(), 1);
  EXPECT_EQ(form_->Combo1->itemText(0), "06/12/2026 - 14:04:30");
  EXPECT_EQ(form_->Combo1->currentText(), QString::fromUtf8("Historiques...(date d\u00e9but)"));

  // A run stopped before its first measurement is not offered.
  clock_.Set(LocalTime{2026, 12, 6, 15, 0, 0});
  form_->Command1->click();
  form_->Command2->click();
  EXPECT_EQ(HistoryLines().back(), "***** 06/12/2026 - 15:00:00");
  EXPECT_EQ(form_->Combo1->count(), 1);
}

TEST_F(Form1Test, ChoosingARunReplaysIt) {
  {
    QFile file(QString::fromStdString(history_path_));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "***** 05/12/2026 - 09:15:02\r\n06/12/2026-09:15 0 23\r\n"
        "06/12/2026-09:16 4 25\r\n06/12/2026-09:17 100 2000\r\n");
  }
  form_->Load("");
  ASSERT_EQ(form_->Combo1->count(), 1);
  const QString caption = form_->windowTitle();

  // Typing a key and pressing Enter loads nothing.
  form_->Combo1->setEditText("05/12/2026 - 09:15:02");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(form_->Combo1->lineEdit(), &enter);
  EXPECT_EQ(form_->series().Count(), 0);

  form_->Timer2->start();
  emit form_->Combo1->activated(0);
  ASSERT_EQ(form_->series().Count(), 3);
  EXPECT_EQ(*form_->series().Item(0), (Measurement{"06/12/2026-09:17", "100", "2000"}));
  EXPECT_EQ(*form_->series().Item(2), (Measurement{"06/12/2026-09:15", "0", "23"}));
  EXPECT_TRUE(form_->series().replies().empty());
  EXPECT_FALSE(form_->Timer2->isActive());
  // Nothing else changes: the labels still show the last live run.
  EXPECT_EQ(form_->Label3->text(), "0%");
  EXPECT_EQ(form_->Label13->text(), "");
  EXPECT_EQ(form_->Label15->text(), kStopped);
  EXPECT_EQ(form_->windowTitle(), caption);
}

TEST_F(Form1Test, AReplayNeverShowsAnotherRunsDrawing) {
  {
    QFile file(QString::fromStdString(history_path_));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "***** 05/12/2026 - 09:15:02\r\n05/12/2026-09:15 0 23\r\n"
        "***** 05/12/2026 - 10:00:00\r\n05/12/2026-10:00 50 40\r\n05/12/2026-10:01 0 41\r\n"
        "garbled 0 20\r\n"
        "***** 05/12/2026 - 11:00:00\r\n05/12/2026-1x:00 0 20\r\n");
  }
  form_->Load("");
  const QImage grid = form_->Picture1->image();
  ASSERT_EQ(form_->Combo1->count(), 3);
  emit form_->Combo1->activated(2);  // 09:15
  EXPECT_EQ(form_->lh3->text(), "09:15");
  // Its newest line is garbled: the run is drawn from its newest good measurement.
  emit form_->Combo1->activated(1);
  EXPECT_EQ(form_->lh3->text(), "10:01");
  EXPECT_EQ(form_->scroll_offset(), 1);
  // Nothing in it can be drawn: the empty grid, not the run before.
  emit form_->Combo1->activated(0);
  EXPECT_EQ(form_->Picture1->image(), grid);
  EXPECT_EQ(form_->lh3->text(), "");
  EXPECT_FALSE(form_->Command4->isEnabled());
}

TEST_F(Form1Test, UnwritableHistoryLeavesTheProgramRunning) {
  if (geteuid() == 0) {
    // Root writes whatever the modes say: a directory in the file's place fails for anyone.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("trelvane.txt"));
  } else {
    ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner));
  }
  form_->Load("");
  const QString failed = QString::fromUtf8("Historique non \u00e9crit !");
  EXPECT_EQ(form_->Label15->text(), failed);
  // The tip names the file and says why, in French.
  EXPECT_TRUE(form_->Label15->toolTip().contains(QString::fromStdString(history_path_)));
  EXPECT_TRUE(form_->Label15->toolTip().contains(geteuid() == 0 ? "ordinaire" : "permission"))
      << form_->Label15->toolTip().toStdString();
  EXPECT_EQ(form_->Combo1->count(), 0);

  form_->Command1->click();
  form_->OnTimer1Tick();
  Answer(Repeat(24, "20 ms"));
  // The run goes on and keeps its measurement in memory.
  EXPECT_EQ(form_->Label5->text(), "20ms");
  EXPECT_EQ(form_->series().Count(), 1);
  EXPECT_EQ(form_->Label15->text(), failed);
  EXPECT_TRUE(form_->Command2->isEnabled());
  // Stopped during a burst, the warning stays: the file is still not written.
  form_->OnTimer1Tick();
  Answer({"20 ms"});
  form_->Command2->click();
  EXPECT_EQ(form_->Label15->text(), failed);
  echo_.Complete("20 ms");
  Yield();
  EXPECT_EQ(form_->Label15->text(), failed);
  QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(Form1Test, ReplayDrawsTheGraph) {
  WriteRun(history_path_, 100);
  form_->Load("");
  const QImage grid = form_->Picture1->image();
  emit form_->Combo1->activated(0);
  ASSERT_EQ(form_->series().Count(), 100);
  EXPECT_EQ(form_->lh3->text(), "23:59");
  EXPECT_EQ(form_->lh2->text(), "22:59");
  EXPECT_EQ(form_->lh1->text(), "21:59");
  EXPECT_EQ(form_->lh4->text(), "06/12/2026");
  EXPECT_TRUE(form_->Command4->isEnabled());
  EXPECT_TRUE(form_->Command6->isEnabled());
  EXPECT_FALSE(form_->Command3->isEnabled());
  EXPECT_FALSE(form_->Command5->isEnabled());

  // Pixels: a major grid line at 2000 twips (row 133), clear of any bar; and the 50 % bar of the
  // measurement ten minutes before the newest, at x = 5000 - 11 W (column 302 or 303).
  const QImage image = form_->Picture1->image();
  EXPECT_NE(image, grid);
  EXPECT_EQ(image.pixelColor(10, 133), QColor(0, 128, 0));
  const QColor bar(160, 0, 0);
  EXPECT_TRUE(image.pixelColor(302, 190) == bar || image.pixelColor(303, 190) == bar);
  EXPECT_NE(image.pixelColor(290, 190), bar);
  // Nothing is drawn beyond the inner 4935 x 3945 twips.
  EXPECT_EQ(image.size(), QSize(329, 263));
}

TEST_F(Form1Test, TheGraphAsAPicture) {
  EXPECT_EQ(GraphPictureName(*form_), "trelvane.png");
  WriteRun(history_path_, 100);
  form_->Load("");
  emit form_->Combo1->activated(0);
  EXPECT_EQ(GraphPictureName(*form_), "trelvane-2026-12-06-2359.png");
  const QImage picture = GraphPicture(*form_);
  // From the percent scale (x 2880 twips) to the window's edge, from "2000ms" (y 195) to the
  // bottom of the hour labels (y 4575).
  EXPECT_EQ(picture.size(), QSize(599 - 192, 305 - 13));
  // The graph stands in it as drawn: the inner area's pixels, offset by the frame.
  const QImage graph = form_->Picture1->image();
  const QPoint inner = form_->Picture1->geometry().topLeft() + QPoint(2, 2) - QPoint(192, 13);
  for (const QPoint at : {QPoint(10, 133), QPoint(302, 190), QPoint(200, 50)}) {
    EXPECT_EQ(picture.pixelColor(at + inner), graph.pixelColor(at)) << at.x() << "," << at.y();
  }
  // Labels are there (ink in lh3's place), scroll buttons are not (the window's plain colour).
  auto ink = [&](QRect r) {
    int dark = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        dark += picture.pixelColor(x, y).lightness() < 100;
    return dark;
  };
  EXPECT_GT(ink(QRect(537 - 192, 288 - 13, 33, 15)), 5);               // lh3
  EXPECT_EQ(ink(QRect(4320 / 15 - 192 + 4, 288 - 13 + 4, 10, 8)), 0);  // "<" is left out

  form_->Picture1->findChild<QMenu*>("GraphMenu")->actions().at(0)->trigger();  // Copier
  EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), picture);
}

TEST_F(Form1Test, HoldingTheScrollButtons) {
  WriteRun(history_path_, 100);
  form_->Load("");
  emit form_->Combo1->activated(0);

  Press(form_->Command4, Qt::LeftButton);  // "<"
  EXPECT_TRUE(form_->Timer2->isActive());
  EXPECT_EQ(form_->Timer2->interval(), 50);
  form_->OnTimer2Tick();
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->scroll_offset(), 2);
  EXPECT_TRUE(form_->Command3->isEnabled());
  EXPECT_EQ(form_->lh3->text(), "23:57");
  Press(form_->Command4, Qt::LeftButton, QEvent::MouseButtonRelease);
  EXPECT_FALSE(form_->Timer2->isActive());

  // "<<" held from offset 60: 80, which disables the older-side buttons, and 80 it stays.
  for (int i = 0; i < 58; ++i) form_->OnTimer2Tick();
  ASSERT_EQ(form_->scroll_offset(), 60);
  Press(form_->Command6, Qt::RightButton);  // any mouse button
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->scroll_offset(), 80);
  EXPECT_FALSE(form_->Command4->isEnabled());
  EXPECT_FALSE(form_->Command6->isEnabled());
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->scroll_offset(), 80);
  // The held button is disabled now; its release still reaches it, and ends the repeat.
  QWidget* under = form_->childAt(form_->Command6->geometry().center());
  ASSERT_EQ(under, form_->Command6);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::RightButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(form_->Command6, &release);
  EXPECT_FALSE(form_->Timer2->isActive());

  // ">>" from offset 5 lands on 0.
  for (int i = 0; i < 75; ++i) {
    Press(form_->Command3, Qt::LeftButton);
    form_->OnTimer2Tick();
  }
  ASSERT_EQ(form_->scroll_offset(), 5);
  Press(form_->Command5, Qt::LeftButton);
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->scroll_offset(), 0);
  EXPECT_FALSE(form_->Command3->isEnabled());
  EXPECT_FALSE(form_->Command5->isEnabled());

  // A real hold: the auto-repeat ticks by itself every 50 ms.
  Press(form_->Command4, Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return form_->scroll_offset() >= 3; }, 2000));
  Press(form_->Command4, Qt::LeftButton, QEvent::MouseButtonRelease);

  // A replay ends a repeat still running and shows the run from its end.
  Press(form_->Command4, Qt::LeftButton);
  emit form_->Combo1->activated(0);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->scroll_offset(), 0);
}

TEST_F(Form1Test, KeyboardActivationOnlySetsTheStep) {
  WriteRun(history_path_, 100);
  form_->Load("");
  emit form_->Combo1->activated(0);
  const QImage before = form_->Picture1->image();
  form_->Command6->setFocus();
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
  QKeyEvent space_up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
  QCoreApplication::sendEvent(form_->Command6, &space);
  QCoreApplication::sendEvent(form_->Command6, &space_up);
  EXPECT_EQ(form_->scroll_step(), 20);
  EXPECT_FALSE(form_->Timer2->isActive());
  EXPECT_EQ(form_->scroll_offset(), 0);
  EXPECT_EQ(form_->Picture1->image(), before);
}

TEST_F(Form1Test, GraphFollowsTheLiveRun) {
  StartRun();
  Answer(Repeat(24, "20 ms"));
  EXPECT_EQ(form_->lh3->text(), "14:04");
  EXPECT_TRUE(form_->Command7->isEnabled());
  // A measurement under way leaves the scroll buttons and Command7 disabled, and a redraw
  // that meets its placeholder keeps the last drawing.
  form_->OnTimer1Tick();
  const QImage drawn = form_->Picture1->image();
  form_->OnTimer2Tick();
  EXPECT_EQ(form_->Picture1->image(), drawn);
  EXPECT_FALSE(form_->Command7->isEnabled());
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

TEST_F(Form1Test, HideToTheTrayAndRestore) {
  form_->csys->SetAvailableForTesting(true);
  WriteRun(history_path_, 30);
  form_->Load("");
  form_->show();
  emit form_->Combo1->activated(0);
  const QImage drawing = form_->Picture1->image();
  const QPoint place = form_->pos();
  StateChanges changes;
  form_->installEventFilter(&changes);

  form_->Hide();  // from the screen: minimises, and the resize handling hides it, nested
  EXPECT_TRUE(form_->isMinimized());
  EXPECT_TRUE(form_->isHidden());
  EXPECT_TRUE(form_->csys->intray());
  EXPECT_EQ(changes.count, 1);

  emit form_->csys->IconEvent(1, 1);  // the user's click on the tray icon
  EXPECT_FALSE(form_->isMinimized());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->csys->intray());
  EXPECT_EQ(form_->pos(), place);
  EXPECT_EQ(form_->Picture1->image(), drawing);

  // Minimised by the user: one state change, which hides it; Hide sets no state again.
  changes.count = 0;
  form_->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(form_->isHidden());
  EXPECT_TRUE(form_->csys->intray());
  EXPECT_EQ(changes.count, 1);
  form_->Hide();
  EXPECT_EQ(changes.count, 1);
  form_->Restore();
  EXPECT_EQ(form_->Picture1->image(), drawing);
}

TEST_F(Form1Test, TrayMenuAndATrayThatGoesAway) {
  form_->csys->SetAvailableForTesting(true);
  form_->Load("10.0.0.1");
  ASSERT_TRUE(form_->isHidden());
  auto* menu = form_->findChild<TrayMenu*>("TrayMenu");
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->restore()->text(), "Restaurer");
  EXPECT_EQ(menu->quit()->text(), "Quitter");
  menu->restore()->trigger();
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->csys->intray());

  // The notification area goes while the window is in it: the window comes back by itself,
  // minimised; and goes back to the tray when a notification area is there again.
  form_->Hide();
  form_->csys->SetAvailableForTesting(false);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_TRUE(form_->isMinimized());
  EXPECT_FALSE(form_->csys->intray());
  form_->csys->SetAvailableForTesting(true);
  EXPECT_TRUE(form_->isHidden());
  EXPECT_TRUE(form_->csys->intray());

  // "Quitter" ends the program as closing the window does: at once, nothing written.
  const std::vector<std::string> before = HistoryLines();
  bool closed = false;
  QObject::connect(form_.get(), &Form1::Closed, [&] { closed = true; });
  menu->quit()->trigger();
  EXPECT_TRUE(closed);
  EXPECT_EQ(HistoryLines(), before);
}

TEST_F(Form1Test, AccessibleNamesAndReturnInTheHostBox) {
  form_->Load("");
  EXPECT_EQ(form_->accessibleName(), form_->windowTitle());
  EXPECT_EQ(form_->csys->AccessibleName(), form_->csys->TrayTip());
  QAccessibleInterface* url = QAccessible::queryAccessibleInterface(form_->URL);
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(url->text(QAccessible::Name), "URL:");
  // Return in the host box while idle starts a run, as GO does.
  QTest::keyClick(form_->URL, Qt::Key_Return);
  EXPECT_TRUE(form_->Command2->isEnabled());
  EXPECT_EQ(HistoryLines().size(), 2u);
  form_->OnTimer1Tick();
  Answer(Repeat(24, "20 ms"));
  EXPECT_EQ(form_->accessibleName(), form_->windowTitle());
  EXPECT_EQ(form_->csys->AccessibleName(), "0% 20ms - " + kCaption);
}

TEST_F(Form1Test, WithoutATrayTheWindowStaysInTheTaskBar) {
  form_->csys->SetAvailableForTesting(false);
  form_->Load("10.0.0.1");
  form_->show();
  EXPECT_TRUE(form_->isMinimized());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->csys->intray());
  EXPECT_TRUE(form_->Timer1->isActive());  // the run goes on
  form_->setWindowState(Qt::WindowNoState);
  form_->setWindowState(Qt::WindowMinimized);  // minimised by the user
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(Form1Test, ClosingEndsTheProgramAndWritesNothing) {
  StartRun();
  Answer(Repeat(10, "20 ms"));
  const std::vector<std::string> before = HistoryLines();
  bool closed = false;
  QObject::connect(form_.get(), &Form1::Closed, [&] { closed = true; });
  form_->show();
  form_->close();
  EXPECT_TRUE(closed);
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
  int status = 0;
  waitpid(holder, &status, 0);
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
