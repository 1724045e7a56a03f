#include "ui/systray.h"

#include <QSystemTrayIcon>
#include <QTimer>

namespace SysTrayCtl {

cSysTray::cSysTray(const QIcon& icon, QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(icon, this)), watch_(new QTimer(this)) {
  setObjectName("csys");
  connect(watch_, &QTimer::timeout, this, &cSysTray::CheckAvailability);
  connect(icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) emit IconEvent(1, 1);
            if (reason == QSystemTrayIcon::DoubleClick) emit IconEvent(1, 2);
          });
}

void cSysTray::setIntray(bool in_tray) {
  intray_ = in_tray;
  icon_->setVisible(in_tray);
}

void cSysTray::setIcon(const QIcon& icon) { icon_->setIcon(icon); }

QIcon cSysTray::icon() const { return icon_->icon(); }

void cSysTray::ShowMessage(const QString& title, const QString& body, bool critical) {
  icon_->showMessage(title, body,
                     critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
}

void cSysTray::setContextMenu(QMenu* menu) { icon_->setContextMenu(menu); }

void cSysTray::SetAvailableForTesting(bool available) {
  available_for_testing_ = available;
  CheckAvailability();
}

void cSysTray::WatchAvailability(int interval_ms) {
  was_available_ = Available();
  if (interval_ms > 0) {
    watch_->start(interval_ms);
  } else {
    watch_->stop();
  }
}

void cSysTray::CheckAvailability() {
  const bool available = Available();
  if (available == was_available_) return;
  was_available_ = available;
  emit AvailabilityChanged(available);
}

void cSysTray::setTrayTip(const QString& tip) {
  tip_ = tip;
  icon_->setToolTip(tip);
}

bool cSysTray::Available() const {
  return available_for_testing_.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

}  // namespace SysTrayCtl
