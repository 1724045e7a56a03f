#include "ui/form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "graph/geometry.h"
#include "graph/graph.h"
#include "ui/bolt_icon.h"
#include "ui/echo_runner.h"
#include "ui/graph_picture.h"
#include "ui/graph_view.h"
#include "ui/systray.h"
#include "ui/tray_menu.h"

namespace trelvane {
namespace {

constexpr int kFirstTickMs = 1000;
constexpr int kTickMs = 60000;
constexpr int kScrollTickMs = 50;
// How often, with the window in the tray, the notification area is checked for.
constexpr int kTrayWatchMs = 1000;
constexpr long kBlack = 0;
constexpr long kBurstColour = 192;       // dark red
constexpr long kMeasuredColour = 16576;  // dark orange
const char* const kStopped = "Arr\u00eat";
const char* const kWaiting = "mesure dans moins d'1 mn...";
const char* const kHistoryFailed = "Historique non \u00e9crit !";
const char* const kRunListPrompt = "Historiques...(date d\u00e9but)";
const char* const kNotPermitted = "Ping non autoris\u00e9 !";
const char* const kNotPermittedTip =
    "Ce programme n'a pas le droit d'envoyer des requ\u00eates ICMP : chaque requ\u00eate "
    "\u00e9choue "
    "et compte comme perdue.\n"
    "Pour l'autoriser \u00e0 tous les utilisateurs (en root) :\n"
    "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
    "ou pour ce programme seul :\n"
    "  setcap cap_net_raw+ep <chemin de trelvane>";

// Places and sizes are designed in twips, 15 to the pixel at 96 dpi; Qt scales the pixels for
// other screens.
int Px(int twips) { return qRound(twips / 15.0); }

QRect Place(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

// A colour as the designed long value: blue × 65536 + green × 256 + red.
QColor VbColour(long value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

const QColor kDarkGreen(0, 128, 0);
const QColor kDarkRed(192, 0, 0);
const QColor kGrey(128, 128, 128);

// Sets a label's text and, where the desktop's font is wider than the one the design was fitted
// to, makes the label's font a little smaller so that the whole text shows in the designed place.
void SetFittedText(QLabel* label, const QString& text) {
  QFont font = label->parentWidget()->font();
  for (qreal size = font.pointSizeF(); size > 6.0; size -= 0.5) {
    font.setPointSizeF(size);
    if (QFontMetrics(font).horizontalAdvance(text) <= label->width()) break;
  }
  label->setFont(font);
  label->setText(text);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

struct LabelDesign {
  const char* name;
  int container;  // 0 the window, 1 Frame1, 2 Frame2
  const char* text;
  int left, top, width, height;
  QColor colour;  // invalid: the default
  bool right_aligned;
};

const std::vector<LabelDesign>& LabelDesigns() {
  const QColor none;
  static const std::vector<LabelDesign> labels = {
      {"Label8", 2, "Tps de r\u00e9ponse :", 240, 720, 1335, 255, none, false},
      {"Label13", 2, "", 840, 240, 1455, 255, none, false},
      {"Label12", 2, "Packet Loss :", 240, 480, 1695, 255, none, false},
      {"Label6", 2, "Date :", 240, 240, 1575, 255, none, false},
      {"Label9", 2, "0ms", 1440, 720, 855, 255, kDarkGreen, true},
      {"Label7", 2, "0%", 1800, 480, 495, 255, kDarkRed, true},
      {"Label11", 1, "", 840, 240, 1455, 255, none, false},
      {"Label10", 1, "Date :", 240, 240, 1815, 255, none, false},
      {"Label5", 1, "0ms", 1560, 720, 735, 255, kDarkGreen, true},
      {"Label4", 1, "Tps de r\u00e9ponse :", 240, 720, 1335, 255, none, false},
      {"Label3", 1, "0%", 1800, 480, 495, 255, kDarkRed, true},
      {"Label2", 1, "Packet Loss :", 240, 480, 1695, 255, none, false},
      {"lh2", 0, "", 5610, 4320, 495, 255, none, false},
      {"lh4", 0, "", 6120, 4320, 1815, 255, kGrey, false},
      {"lh3", 0, "", 8055, 4320, 495, 255, none, false},
      {"Label28", 0, "500ms", 8400, 600, 495, 255, kDarkGreen, false},
      {"lh1", 0, "", 3120, 4320, 495, 255, none, false},
      {"Label24", 0, "200ms", 8400, 960, 495, 255, kDarkGreen, false},
      {"Label23", 0, "100ms", 8400, 1350, 495, 255, kDarkGreen, false},
      {"Label22", 0, "50ms", 8400, 2160, 495, 255, kDarkGreen, false},
      {"Label21", 0, "0ms", 8400, 4080, 495, 255, kDarkGreen, false},
      {"Label19", 0, "2000ms", 8400, 195, 615, 255, kDarkGreen, false},
      {"Label18", 0, "0%", 2880, 4080, 465, 225, kDarkRed, true},
      {"Label17", 0, "50%", 2880, 2160, 465, 225, kDarkRed, true},
      {"Label16", 0, "100%", 2880, 240, 465, 225, kDarkRed, true},
      {"Label14", 0, "Statut :", 360, 1320, 615, 255, none, false},
      {"Label15", 0, "", 1080, 1320, 2175, 255, QColor(Qt::black), false},
      {"Label1", 0, "URL:", 360, 300, 375, 195, none, false},
  };
  return labels;
}

}  // namespace

Form1::Form1(const Clock& clock, EchoRunner& echo, QWidget* parent, std::string history_path)
    : QWidget(parent),
      clock_(clock),
      echo_(echo),
      burst_(clock),
      history_(std::move(history_path)) {
  BuildControls();
}

Form1::~Form1() = default;

void Form1::BuildControls() {
  setObjectName("Form1");
  setWindowTitle(kDesignedCaption);
  setWindowIcon(BoltIcon());
  setFixedSize(Px(8985), Px(4650));
  // The design's texts were fitted to a narrow 8-point dialog font. Take the desktop's family at
  // the largest size, up to 8 points, at which every designed text fits its label ("2000ms" is cut
  // by the window's edge, not by its label), so that all texts share one size.
  QFont font = this->font();
  for (qreal size = 8.0; size > 6.0; size -= 0.5) {
    font.setPointSizeF(size);
    const QFontMetrics metrics(font);
    bool all_fit = true;
    for (const LabelDesign& design : LabelDesigns()) {
      all_fit =
          all_fit && metrics.horizontalAdvance(QString::fromUtf8(design.text)) <= Px(design.width);
    }
    if (all_fit) break;
  }
  setFont(font);
  // Frames in the classic manner: the title sits on the border line.
  setStyleSheet(
      "QGroupBox { border: 1px solid palette(mid); margin-top: 6px; }"
      "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }");

  auto button = [this](const char* name, const char* text, QRect place) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(name);
    b->setGeometry(place);
    b->setAutoDefault(false);
    return b;
  };
  Command7 = button("Command7", "R\u00e9duire", Place(8400, 2760, 855, 375));
  Command7->setVisible(false);
  connect(Command7, &QPushButton::clicked, this, [this] { Hide(); });

  Combo1 = new QComboBox(this);
  Combo1->setObjectName("Combo1");
  Combo1->setGeometry(Place(480, 4080, 2175, 315));
  Combo1->setEditable(true);
  Combo1->setInsertPolicy(QComboBox::NoInsert);
  // Only choosing from the list replays: Enter in the text part must not pick a typed key.
  Combo1->lineEdit()->installEventFilter(this);
  connect(Combo1, &QComboBox::activated, this, &Form1::OnCombo1Chosen);

  Command6 = button("Command6", "<<", Place(3960, 4320, 375, 255));
  Command5 = button("Command5", ">>", Place(5040, 4320, 375, 255));
  Command4 = button("Command4", "<", Place(4320, 4320, 375, 255));
  Command3 = button("Command3", ">", Place(4680, 4320, 375, 255));
  for (QPushButton* scroll : {Command3, Command4, Command5, Command6}) {
    // Mouse presses and releases of any button drive the auto-repeat; a click, also from the
    // keyboard, only sets the step.
    scroll->installEventFilter(this);
    connect(scroll, &QPushButton::clicked, this,
            [this, scroll] { scroll_step_ = ScrollStepOf(scroll); });
  }

  Frame2 = new QGroupBox(QString::fromUtf8("Depuis le d\u00e9but"), this);
  Frame2->setObjectName("Frame2");
  Frame2->setGeometry(Place(360, 2880, 2415, 1095));
  Frame1 = new QGroupBox(QString::fromUtf8("Derni\u00e8re mesure"), this);
  Frame1->setObjectName("Frame1");
  Frame1->setGeometry(Place(360, 1680, 2415, 1095));

  QWidget* containers[] = {this, Frame1, Frame2};
  for (const LabelDesign& design : LabelDesigns()) {
    auto* label = new QLabel(QString::fromUtf8(design.text), containers[design.container]);
    label->setObjectName(design.name);
    label->setGeometry(Place(design.left, design.top, design.width, design.height));
    label->setAlignment((design.right_aligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
    if (design.colour.isValid()) SetTextColour(label, design.colour);
  }
  auto label = [this](const char* name) { return findChild<QLabel*>(name); };
  Label3 = label("Label3");
  Label5 = label("Label5");
  Label7 = label("Label7");
  Label9 = label("Label9");
  Label11 = label("Label11");
  Label13 = label("Label13");
  Label15 = label("Label15");
  lh1 = label("lh1");
  lh2 = label("lh2");
  lh3 = label("lh3");
  lh4 = label("lh4");
  // Where a caption and its value overlap, the value lies on top.
  for (QLabel* value : {Label3, Label5, Label7, Label9, Label11, Label13}) value->raise();

  Picture1 = new GraphView(this);
  Picture1->setObjectName("Picture1");
  Picture1->setGeometry(Place(3360, 240, 5000, 4000));
  Picture1->setFocusPolicy(Qt::TabFocus);
  AddGraphPictureMenu(*this);

  URL = new QLineEdit(this);
  URL->setObjectName("URL");
  URL->setGeometry(Place(840, 240, 1935, 285));
  URL->setMaxLength(std::numeric_limits<int>::max());

  Command2 = button("Command2", "Stop", Place(1680, 720, 1095, 375));
  Command1 = button("Command1", "GO", Place(360, 720, 1095, 375));
  connect(Command1, &QPushButton::clicked, this, [this] { Start(); });
  connect(Command2, &QPushButton::clicked, this, [this] { Stop(); });

  auto tick_mark = [this](const char* name, int x, int y1, int y2) {
    auto* line = new QFrame(this);
    line->setObjectName(name);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    line->setGeometry(Px(x), Px(y1), 1, Px(y2) - Px(y1));
  };
  tick_mark("Line3", 8310, 4200, 4320);
  tick_mark("Line2", 3360, 4200, 4320);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTickMs);
  // Measurements stand a minute apart on the graph: a coarse timer would let them drift by up to
  // 5 % of the interval.
  Timer1->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &Form1::OnTimer1Tick);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(kScrollTickMs);
  connect(Timer2, &QTimer::timeout, this, &Form1::OnTimer2Tick);

  csys = new SysTrayCtl::cSysTray(BoltIcon(), this);
  connect(csys, &SysTrayCtl::cSysTray::IconEvent, this, [this](int, int) { Restore(); });
  auto* tray_menu = new TrayMenu(this);
  csys->setContextMenu(tray_menu);
  connect(tray_menu->restore(), &QAction::triggered, this, [this] { Restore(); });
  connect(tray_menu->quit(), &QAction::triggered, this, [this] { close(); });
  connect(csys, &SysTrayCtl::cSysTray::AvailabilityChanged, this, &Form1::OnTrayAvailability);

  // Accessibility: "URL:" names the host box, and Return there while idle does what GO does.
  findChild<QLabel*>("Label1")->setBuddy(URL);
  connect(URL, &QLineEdit::returnPressed, this, [this] {
    if (Command1->isEnabled()) Start();
  });

  // The keyboard focus order of the design.
  QWidget* order[] = {Command1, Command2, URL,      Picture1, Command3,
                      Command4, Command5, Command6, Combo1,   Command7};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  // Set on each control: the frames' style sheet would otherwise hand their labels the
  // application's font.
  for (QWidget* child : findChildren<QWidget*>()) child->setFont(font);
}

void Form1::Load(const QString& command_line) {
  BaseCaption_ = windowTitle();
  setAccessibleName(BaseCaption_);
  csys->setTrayTip(BaseCaption_);
  csys->setIntray(false);

  command_line_ = command_line;
  URL->setText(command_line_.isEmpty() ? QString(kDefaultHost) : command_line_);

  large_scroll_step_ = 20;
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
}

void Form1::Start() {
  series_.Clear();
  stop_requested_ = false;
  scroll_offset_ = 0;
  // A burst of an earlier run that is still waiting for a reply no longer touches anything.
  ++generation_;
  AppendHistoryLine(RunHeader(clock_.Now(), clock_.separators()), LineKind::kRunHeader);

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
}

void Form1::Stop() {
  stop_requested_ = true;
  // A burst under way ends here: the reply it still waits for touches neither the window nor the
  // series when it comes.
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

void Form1::AppendHistoryLine(const std::string& line, LineKind kind) {
  WriteResult result;
  switch (kind) {
    case LineKind::kStartupMarker:
      result = history_.Append(line);
      break;
    case LineKind::kRunHeader:
      result = history_.AppendRunHeader(line);
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

void Form1::ShowStatusOrWarning(const QString& text) {
  QStringList tips;
  if (ping_not_permitted_) tips << QString::fromUtf8(kNotPermittedTip);
  if (history_failed_) tips << history_tip_;
  Label15->setToolTip(tips.join("\n\n"));
  if (ping_not_permitted_) {
    SetStatusColour(kBurstColour);
    SetStatus(QString::fromUtf8(kNotPermitted));
  } else {
    SetStatus(history_failed_ ? QString::fromUtf8(kHistoryFailed) : text);
  }
}

void Form1::Hide() {
  if (!csys->Available()) {
    // Hidden with no tray icon, nothing could bring the window back: it stays minimised in the
    // task bar, and the run goes on.
    static bool said = false;
    if (!said) {
      std::fprintf(stderr,
                   "trelvane: this desktop has no notification area; the window stays minimised "
                   "in the task bar\n");
      said = true;
    }
    if (!isMinimized()) setWindowState(windowState() | Qt::WindowMinimized);
    return;
  }
  // Where the frame stands, read while the window is still mapped and its frame known.
  if (isVisible() && windowHandle() != nullptr) {
    const QMargins frame = windowHandle()->frameMargins();
    client_position_ = windowHandle()->framePosition() + QPoint(frame.left(), frame.top());
  }
  // Minimising raises the resize handling, which performs Hide once more, nested, from here.
  if (!isMinimized()) setWindowState(windowState() | Qt::WindowMinimized);
  setVisible(false);
  csys->setIntray(true);
  stranded_ = false;
  csys->WatchAvailability(kTrayWatchMs);
}

void Form1::OnTrayAvailability(bool available) {
  if (!available && csys->intray()) {
    // The notification area went away with the icon in it: nothing could bring the window back,
    // so it comes back by itself, minimised in the task bar.
    stranded_ = true;
    csys->setIntray(false);
    setWindowState(windowState() | Qt::WindowMinimized);
    setVisible(true);
    return;
  }
  if (available && stranded_) {
    stranded_ = false;
    if (isMinimized()) {
      Hide();  // back where the user sent it
    } else {
      csys->WatchAvailability(0);
    }
  }
}

void Form1::Restore() {
  csys->setIntray(false);
  csys->WatchAvailability(0);
  stranded_ = false;
  // The hidden window's native window still carries its minimised state, and some window
  // managers iconify it again as it is mapped; a fresh one comes up normal.
  if (isHidden() && testAttribute(Qt::WA_WState_Created)) {
    destroy();
    // The new native window knows no frame yet, so a place given with the frame would land the
    // window one frame lower; the place of the window inside the frame is exact.
    if (client_position_) setGeometry(QRect(*client_position_, size()));
  }
  setWindowState(windowState() & ~Qt::WindowMinimized);
  setVisible(true);
}

void Form1::BringToFront() {
  if (isHidden()) {
    Restore();
  } else if (isMinimized()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
  }
  raise();
  activateWindow();
}

void Form1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) Hide();
}

void Form1::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  emit Closed();
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

void Form1::SetStatus(const QString& text) { SetFittedText(Label15, text); }

void Form1::SetStatusColour(long vb_colour) { SetTextColour(Label15, VbColour(vb_colour)); }

void Form1::SetScrollButtonsEnabled(bool enabled) {
  for (QPushButton* b : {Command3, Command4, Command5, Command6}) b->setEnabled(enabled);
}

void Form1::OnTimer1Tick() {
  // A burst of this run still under way (a very slow name lookup): never two at once.
  if (burst_running()) return;
  // Changing the interval restarts the timer; done only on the first tick, so that the ticks keep
  // their rhythm whatever the handler's own delay.
  if (Timer1->interval() != kTickMs) Timer1->setInterval(kTickMs);
  series_.ClearReplies();
  series_.OpenMeasurement();
  SetStatusColour(kBurstColour);
  SetStatus("en cours (0%)");
  SetScrollButtonsEnabled(false);
  Command7->setEnabled(false);

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
  AppendHistoryLine(MeasurementLine(newest), LineKind::kMeasurement);

  Label3->setText(QString::fromStdString(newest.loss) + "%");
  Label5->setText(QString::fromStdString(newest.response) + "ms");
  const QString caption = Label3->text() + " " + Label5->text() + " - " + BaseCaption_;
  setWindowTitle(caption);
  setAccessibleName(caption);
  csys->setTrayTip(caption);
  SetFittedText(Label11, QString::fromStdString(newest.stamp.substr(0, 10) + " - " +
                                                newest.stamp.substr(newest.stamp.size() - 5)));
  RedrawGraph();

  if (const std::optional<SinceStart> figures = SinceStartFigures(series_)) {
    Label7->setText(QString::number(figures->loss) + "%");
    Label9->setText(QString::number(figures->response) + "ms");
  }
  SetStatusColour(kMeasuredColour);
  ping_not_permitted_ = burst_.not_permitted();  // the privilege may have been granted since
  ShowStatusOrWarning(QString::fromUtf8(kWaiting));
  update();
}

}  // namespace trelvane
