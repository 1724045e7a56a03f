#include "ui/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace trelvane {
namespace {

constexpr int kAnswerTimeoutMs = 5000;
// The notification protocol's urgency levels: 0 low, 1 normal, 2 critical.
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

}  // namespace

void DesktopNotifier::Notify(const QString& summary, const QString& body, bool critical,
                             uint replaces, std::function<void(uint id)> done) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    done(0);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                     "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue(critical ? kCritical : kNormal));
  hints.insert("desktop-entry", QStringLiteral("trelvane"));
  // The expiry is the server's own, but an outage stays until the user or the recovery ends it.
  const int expire_ms = critical ? 0 : -1;
  call << QStringLiteral("Trelvane") << replaces << QStringLiteral("trelvane") << summary << body
       << QStringList() << hints << expire_ms;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kAnswerTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [done = std::move(done)](QDBusPendingCallWatcher* finished) {
            const QDBusPendingReply<uint> reply = *finished;
            finished->deleteLater();
            done(reply.isError() ? 0 : reply.value());
          });
}

}  // namespace trelvane
