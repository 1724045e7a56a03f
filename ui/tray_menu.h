#pragma once

#include <QMenu>

namespace trelvane {

// The tray icon's context menu: "Restaurer" brings the window back, "Alertes" (checkable) turns
// the outage notifications on and off, "Quitter" ends the program exactly as closing the window
// does (at once, nothing written).
class TrayMenu : public QMenu {
  Q_OBJECT

 public:
  explicit TrayMenu(QWidget* parent = nullptr);

  QAction* restore() const { return restore_; }
  QAction* alerts() const { return alerts_; }
  QAction* quit() const { return quit_; }

 private:
  QAction* restore_;
  QAction* alerts_;
  QAction* quit_;
};

}  // namespace trelvane
