#include "ui/link_alerts.h"

#include <QPointer>
#include <cstdio>

#include "ui/bolt_icon.h"
#include "ui/desktop_notifier.h"
#include "ui/systray.h"

namespace trelvane {

LinkAlerts::LinkAlerts(SysTrayCtl::cSysTray& tray, AlertSettings settings, QObject* parent)
    : QObject(parent), tray_(tray), state_(settings), notifier_(new DesktopNotifier(this)) {}

void LinkAlerts::Reset() {
  state_.Reset();
  ShowCondition();
}

void LinkAlerts::SetEnabled(bool enabled) {
  AlertSettings settings = state_.settings();
  settings.enabled = enabled;
  Configure(settings);
}

void LinkAlerts::Configure(const AlertSettings& settings) {
  state_ = LinkState(settings);
  ShowCondition();
}

void LinkAlerts::Add(const Measurement& measurement, bool no_such_host, const QString& host) {
  const std::optional<LinkEvent> event = state_.Add(measurement, no_such_host);
  ShowCondition();
  if (event && enabled()) Tell(*event, host);
}

void LinkAlerts::TellLastHop(const StoredTrace& trace) {
  if (state_.condition() != LinkCondition::kDown || !enabled()) return;
  const std::optional<StoredTrace::Hop> hop = trace.LastAnswering();
  outage_hop_ = hop ? QString::fromUtf8("Dernier saut joignable : %1 \u2014 %2")
                          .arg(hop->number)
                          .arg(QString::fromStdString(hop->address))
                    : QString::fromUtf8("Aucun saut joignable");
  // A trace can be done before the service has given the outage's notice its id: then it is
  // told as soon as the id comes.
  if (outage_notice_ != 0) ReplaceOutageNotice();
}

void LinkAlerts::ReplaceOutageNotice() {
  const unsigned outage = outage_number_;
  QPointer<LinkAlerts> self(this);
  notifier_->Notify(outage_summary_, outage_body_ + "\n" + outage_hop_, true, outage_notice_,
                    [self, outage](uint id) {
                      if (self && id != 0 && outage == self->outage_number_) {
                        self->outage_notice_ = id;
                      }
                    });
  outage_hop_.clear();
}

void LinkAlerts::ShowCondition() {
  switch (state_.condition()) {
    case LinkCondition::kUnknown:
      tray_.setIcon(BoltIcon());
      return;
    case LinkCondition::kUp:
      tray_.setIcon(MarkedBoltIcon(QColor(0, 160, 0)));
      return;
    case LinkCondition::kDegraded:
      tray_.setIcon(MarkedBoltIcon(QColor(240, 140, 0)));
      return;
    case LinkCondition::kDown:
      tray_.setIcon(MarkedBoltIcon(QColor(210, 0, 0)));
      return;
  }
}

void LinkAlerts::Tell(const LinkEvent& event, const QString& host) {
  const AlertText text = AlertTextOf(event, host.toStdString());
  const QString summary = QString::fromStdString(text.summary);
  const QString body = QString::fromStdString(text.body);
  const bool down = event.kind == LinkEvent::Kind::kWentDown;
  if (down) {
    ++outage_number_;
    outage_summary_ = summary;
    outage_body_ = body;
    outage_notice_ = 0;
    outage_hop_.clear();
  }
  const uint replaces = down ? 0 : outage_notice_;
  const unsigned outage = outage_number_;
  QPointer<LinkAlerts> self(this);
  notifier_->Notify(summary, body, down, replaces, [self, summary, body, down, outage](uint id) {
    if (!self) return;
    if (id != 0) {
      if (down && outage == self->outage_number_) {
        self->outage_notice_ = id;
        if (!self->outage_hop_.isEmpty()) self->ReplaceOutageNotice();
      }
      return;
    }
    // No notification service answered.
    if (self->tray_.Available() && self->tray_.intray()) {
      self->tray_.ShowMessage(summary, body, down);
    } else {
      std::fprintf(stderr, "trelvane: %s: %s\n", qPrintable(summary), qPrintable(body));
    }
  });
}

}  // namespace trelvane
