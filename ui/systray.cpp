#include "ui/systray.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace SysTrayCtl {

cSysTray::cSysTray(const QIcon& icon, QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(icon, this)) {
  setObjectName("csys");
  // On X11 the platform plugin follows the tray's selection owner and says when it changes (the
  // signal is the plugin's own, hence named as text); a StatusNotifier host comes and goes as a
  // name on the session bus.
  auto* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
  if (native != nullptr && QGuiApplication::platformName() == QLatin1String("xcb")) {
    connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(CheckAvailability()));
  }
  auto* host_watch = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                             QDBusConnection::sessionBus(),
                                             QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(host_watch, &QDBusServiceWatcher::serviceOwnerChanged, this,
          &cSysTray::CheckAvailability);
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

void cSysTray::WatchAvailability(bool watch) {
  was_available_ = Available();
  watching_ = watch;
}

void cSysTray::CheckAvailability() {
  if (!watching_) return;
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
