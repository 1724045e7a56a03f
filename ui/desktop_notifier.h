#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace trelvane {

// Desktop notifications through the desktop's notification service (org.freedesktop.Notifications
// over the session bus): app name "Trelvane", the program's icon. The call never blocks the window:
// `done` is called later with the notification's id, or 0 when no service answered (then the caller
// says it another way).
class DesktopNotifier : public QObject {
  Q_OBJECT

 public:
  explicit DesktopNotifier(QObject* parent = nullptr) : QObject(parent) {}

  // `replaces` is the id of a notification this one takes the place of (0: none), where the
  // service allows it; `critical` asks for the critical urgency.
  void Notify(const QString& summary, const QString& body, bool critical, uint replaces,
              std::function<void(uint id)> done);
};

}  // namespace trelvane
