#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <optional>

class QSystemTrayIcon;

namespace SysTrayCtl {

// The notification-area icon: `intray` shows or removes it, the tip text is its tool tip, and a
// click or double click on it raises IconEvent with two values (the button and the click count),
// which the window ignores.
class cSysTray : public QObject {
  Q_OBJECT

 public:
  explicit cSysTray(const QIcon& icon, QObject* parent = nullptr);

  bool intray() const { return intray_; }
  void setIntray(bool in_tray);

  QString TrayTip() const { return tip_; }
  void setTrayTip(const QString& tip);

  // Whether the desktop has a notification area that can show the icon at all.
  bool Available() const;
  // Tests stand in for a desktop with or without a notification area.
  void SetAvailableForTesting(bool available) { available_for_testing_ = available; }

 signals:
  void IconEvent(int button, int clicks);

 private:
  QSystemTrayIcon* icon_;
  bool intray_ = false;
  QString tip_;
  std::optional<bool> available_for_testing_;
};

}  // namespace SysTrayCtl
