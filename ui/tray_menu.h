#pragma once

#include <QMenu>

namespace trelvane {

// The tray icon's context menu: "Restaurer" brings the window back, "Quitter" ends the program
// exactly as closing the window does (at once, nothing written).
class TrayMenu : public QMenu {
  Q_OBJECT

 public:
  explicit TrayMenu(QWidget* parent = nullptr);

  QAction* restore() const { return restore_; }
  QAction* quit() const { return quit_; }

 private:
  QAction* restore_;
  QAction* quit_;
};

}  // namespace trelvane
