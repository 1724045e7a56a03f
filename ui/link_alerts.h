#pragma once

#include <QObject>
#include <QString>

#include "alert/link_state.h"
#include "history/trace_file.h"
#include "measure/measurement.h"

namespace SysTrayCtl {
class cSysTray;
}

namespace trelvane {

class DesktopNotifier;

// Tells the user what the link does: the tray icon carries a mark of the link's condition (green
// up, orange degraded, red down; none when stopped or not yet known), and an outage and its end
// are notified once each through the desktop's notification service, the recovery replacing the
// outage's notice. Without a notification service the tray's balloon says it; without a tray
// either, one line on stderr.
class LinkAlerts : public QObject {
  Q_OBJECT

 public:
  LinkAlerts(SysTrayCtl::cSysTray& tray, AlertSettings settings, QObject* parent = nullptr);

  // A run starts, or stops: the condition is unknown again, and nothing is told.
  void Reset();
  void Add(const Measurement& measurement, bool no_such_host, const QString& host);

  bool enabled() const { return state_.settings().enabled; }
  void SetEnabled(bool enabled);
  // New settings; the condition is unknown again.
  void Configure(const AlertSettings& settings);
  LinkCondition condition() const { return state_.condition(); }
  // A trace taken as the link went down is done: while the outage lasts, its notice is replaced
  // by one that adds the last hop that answered.
  void TellLastHop(const StoredTrace& trace);

 private:
  void ShowCondition();
  void Tell(const LinkEvent& event, const QString& host);
  void ReplaceOutageNotice();

  SysTrayCtl::cSysTray& tray_;
  LinkState state_;
  DesktopNotifier* notifier_;
  uint outage_notice_ = 0;  // the id of the outage's notification, for its recovery to replace
  QString outage_summary_;  // and its texts
  QString outage_body_;
  QString outage_hop_;          // the last hop of its trace, until the notice's id is known
  unsigned outage_number_ = 0;  // a recovery replaces the notice of its own outage only
};

}  // namespace trelvane
