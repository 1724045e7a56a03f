#include <QCloseEvent>
#include <QSignalBlocker>
#include <QWindow>
#include <cstdio>

#include "service/alert_settings.h"
#include "ui/form1.h"
#include "ui/form1_parts.h"
#include "ui/link_alerts.h"
#include "ui/systray.h"
#include "ui/tray_menu.h"

namespace trelvane {

using namespace form1;

void Form1::UseAlertSettings(const QString& path) {
  const AlertSettings settings = LoadAlertSettings(path);
  alerts_->Configure(settings);
  const QSignalBlocker quiet(tray_menu_->alerts());
  tray_menu_->alerts()->setChecked(settings.enabled);
  alert_settings_path_ = path;
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
  csys->WatchAvailability(true);
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
      csys->WatchAvailability(false);
    }
  }
}

void Form1::Restore() {
  csys->setIntray(false);
  csys->WatchAvailability(false);
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

}  // namespace trelvane
