#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <limits>
#include <vector>

#include "service/alert_settings.h"
#include "ui/bolt_icon.h"
#include "ui/form1.h"
#include "ui/form1_parts.h"
#include "ui/graph_picture.h"
#include "ui/graph_view.h"
#include "ui/link_alerts.h"
#include "ui/systray.h"
#include "ui/tray_menu.h"

namespace trelvane {

using namespace form1;

namespace {

// A frame in the classic manner: a one-pixel line in the palette's mid colour, its title standing
// on the top line. Painted here rather than by a style sheet, whose engine would stay in memory
// for these two frames alone.
class ClassicFrame final : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    constexpr int kLineTop = 6;
    constexpr int kTitleLeft = 6;
    constexpr int kTitlePadding = 4;
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QRect title_place(kTitleLeft, 0, metrics.horizontalAdvance(title()) + 2 * kTitlePadding,
                            metrics.height());
    painter.setClipRegion(QRegion(rect()).subtracted(title_place));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(QRect(0, kLineTop, width() - 1, height() - kLineTop - 1));
    painter.setClipping(false);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(title_place, Qt::AlignCenter, title());
  }
};

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

void Form1::BuildFrame() {
  setObjectName("Form1");
  setWindowTitle(kDesignedCaption);
  setFixedSize(Px(8985), Px(4650));
}

void Form1::BuildControls() {
  // Eight pictures to decode: the desktop takes the icon as well once the window is mapped.
  setWindowIcon(BoltIcon());
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

  Frame2 = new ClassicFrame(QString::fromUtf8("Depuis le d\u00e9but"), this);
  Frame2->setObjectName("Frame2");
  Frame2->setGeometry(Place(360, 2880, 2415, 1095));
  Frame1 = new ClassicFrame(QString::fromUtf8("Derni\u00e8re mesure"), this);
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
  tray_menu_ = new TrayMenu(this);
  csys->setContextMenu(tray_menu_);
  connect(tray_menu_->restore(), &QAction::triggered, this, [this] { Restore(); });
  connect(tray_menu_->quit(), &QAction::triggered, this, [this] { close(); });
  alerts_ = new LinkAlerts(*csys, AlertSettings{}, this);
  connect(tray_menu_->alerts(), &QAction::toggled, this, [this](bool on) {
    alerts_->SetEnabled(on);
    if (!alert_settings_path_.isEmpty() && !SaveAlertsEnabled(alert_settings_path_, on)) {
      std::fprintf(stderr, "trelvane: %s cannot be written: the setting lasts until the end\n",
                   qPrintable(alert_settings_path_));
    }
  });
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

  for (QWidget* child : findChildren<QWidget*>()) child->setFont(font);

  // Made after the window was shown: the controls come up with it, as they would have.
  if (isVisible()) {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
        child->show();
      }
    }
  }
}

void Form1::SetStatus(const QString& text) { SetFittedText(Label15, text); }

void Form1::SetStatusColour(long vb_colour) { SetTextColour(Label15, VbColour(vb_colour)); }

void Form1::SetScrollButtonsEnabled(bool enabled) {
  for (QPushButton* b : {Command3, Command4, Command5, Command6}) b->setEnabled(enabled);
}

}  // namespace trelvane
