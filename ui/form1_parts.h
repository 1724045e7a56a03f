#pragma once

// What the window's files share: its timings, texts and colours, and the helpers that place and
// colour its controls as designed.

#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QRect>
#include <QString>
#include <QWidget>

#include "measure/burst_cycle.h"

namespace trelvane::form1 {

using trelvane::kFirstTickMs;
using trelvane::kTickMs;
constexpr int kScrollTickMs = 50;
constexpr long kBlack = 0;
constexpr long kBurstColour = 192;       // dark red
constexpr long kMeasuredColour = 16576;  // dark orange
const char* const kStopped = "Arr\u00eat";
const char* const kWaiting = "mesure dans moins d'1 mn...";
const char* const kHistoryFailed = "Historique non \u00e9crit !";
const char* const kRunListPrompt = "Historiques...(date d\u00e9but)";
const char* const kNotPermitted = "Ping non autoris\u00e9 !";
const char* const kNoSuchHost = "H\u00f4te introuvable !";
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
inline int Px(int twips) { return qRound(twips / 15.0); }

inline QRect Place(int left, int top, int width, int height) {
  return {Px(left), Px(top), Px(width), Px(height)};
}

// A colour as the designed long value: blue × 65536 + green × 256 + red.
inline QColor VbColour(long value) {
  return {static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
          static_cast<int>((value >> 16) & 0xFF)};
}

inline const QColor kDarkGreen(0, 128, 0);
inline const QColor kDarkRed(192, 0, 0);
inline const QColor kGrey(128, 128, 128);

// Sets a label's text and, where the desktop's font is wider than the one the design was fitted
// to, makes the label's font a little smaller so that the whole text shows in the designed place.
inline void SetFittedText(QLabel* label, const QString& text) {
  QFont font = label->parentWidget()->font();
  for (qreal size = font.pointSizeF(); size > 6.0; size -= 0.5) {
    font.setPointSizeF(size);
    if (QFontMetrics(font).horizontalAdvance(text) <= label->width()) break;
  }
  label->setFont(font);
  label->setText(text);
}

inline void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

}  // namespace trelvane::form1
