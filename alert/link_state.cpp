#include "alert/link_state.h"

#include <string_view>

#include "measure/numbers.h"

namespace trelvane {

void LinkState::Reset() {
  condition_ = LinkCondition::kUnknown;
  lost_in_a_row_ = 0;
  degraded_in_a_row_ = 0;
  outage_.reset();
}

std::optional<LinkEvent> LinkState::Add(const Measurement& measurement, bool no_such_host) {
  const std::optional<int> loss = ParseWholeNumber(measurement.loss);
  if (no_such_host || !loss) {
    // Not a measurement of the link: what was under way ends without a word.
    Reset();
    return std::nullopt;
  }
  const bool was_down = condition_ == LinkCondition::kDown;
  std::optional<LinkEvent> event;
  if (*loss >= 100) {
    ++lost_in_a_row_;
    if (!outage_) outage_ = Outage{measurement.stamp, measurement.stamp, 0};
    outage_->last_stamp = measurement.stamp;
    outage_->measured_minutes = lost_in_a_row_;
  } else {
    if (was_down) event = LinkEvent{LinkEvent::Kind::kRecovered, *outage_};
    lost_in_a_row_ = 0;
    outage_.reset();
  }
  degraded_in_a_row_ = *loss >= settings_.degraded_threshold ? degraded_in_a_row_ + 1 : 0;

  if (lost_in_a_row_ >= settings_.down_after) {
    condition_ = LinkCondition::kDown;
    if (!was_down) event = LinkEvent{LinkEvent::Kind::kWentDown, *outage_};
  } else if (degraded_in_a_row_ >= AlertSettings::kDegradedAfter ||
             (condition_ == LinkCondition::kDegraded && degraded_in_a_row_ > 0)) {
    condition_ = LinkCondition::kDegraded;
  } else {
    condition_ = LinkCondition::kUp;
  }
  return event;
}

AlertText AlertTextOf(const LinkEvent& event, const std::string& host) {
  const std::string first(ReadStamp(event.outage.first_stamp).time);
  if (event.kind == LinkEvent::Kind::kWentDown) {
    return AlertText{"Coupure : " + host, "Aucune r\u00e9ponse depuis " + first};
  }
  const std::string last(ReadStamp(event.outage.last_stamp).time);
  return AlertText{"R\u00e9tabli : " + host, "Coupure de " +
                                                 std::to_string(event.outage.measured_minutes) +
                                                 " min (" + first + " \u2013 " + last + ")"};
}

}  // namespace trelvane
