#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <optional>

class QMenu;
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
  void SetAvailableForTesting(bool available);

  // The picture of the icon.
  void setIcon(const QIcon& icon);
  QIcon icon() const;
  // A balloon message from the icon (critical: with the critical sign).
  void ShowMessage(const QString& title, const QString& body, bool critical);

  // The menu of a right click on the icon.
  void setContextMenu(QMenu* menu);
  // What assistive tools read for the icon: its tip.
  QString AccessibleName() const { return tip_; }

  // While watched, AvailabilityChanged tells when the notification area goes or comes back. The
  // desktop tells it (the X11 tray's owner changing, a StatusNotifier host coming or going): the
  // program is not woken to look.
  void WatchAvailability(bool watch);

 signals:
  void IconEvent(int button, int clicks);
  void AvailabilityChanged(bool available);

 private slots:
  void CheckAvailability();

 private:
  QSystemTrayIcon* icon_;
  bool watching_ = false;
  bool was_available_ = true;
  bool intray_ = false;
  QString tip_;
  std::optional<bool> available_for_testing_;
};

}  // namespace SysTrayCtl
