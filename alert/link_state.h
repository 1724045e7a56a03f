#pragma once

#include <optional>
#include <string>

#include "measure/measurement.h"

namespace trelvane {

// What the measurements of the current run say of the link.
enum class LinkCondition {
  kUnknown,  // a run without a measurement yet (or a host whose name does not exist)
  kUp,
  kDegraded,  // loss at or above the degraded threshold in kDegradedAfter measurements in a row
  kDown,      // loss 100 % in `down_after` measurements in a row
};

struct AlertSettings {
  bool enabled = true;          // notifications on outage and recovery
  int down_after = 2;           // measurements at 100 % loss in a row that make an outage
  int degraded_threshold = 25;  // percent
  static constexpr int kDegradedAfter = 3;
};

// An outage: from its first measurement at 100 % loss to its last, both stamps as written.
struct Outage {
  std::string first_stamp;
  std::string last_stamp;
  int measured_minutes = 0;  // measurements at 100 % loss
};

// What changed with a measurement, to be told the user: the link went down, or came back (with
// the outage it ends). Degraded is shown by the tray only, so it is no event of its own.
struct LinkEvent {
  enum class Kind { kWentDown, kRecovered };
  Kind kind;
  Outage outage;
};

// The link's condition through a run, from its measurements one at a time:
//  1. a run starts unknown; its first measurement makes it up, degraded or down by the rules below;
//  2. down after `down_after` measurements in a row at 100 % loss (a shorter flap tells nothing);
//     the outage starts at the first of them;
//  3. recovered at the first measurement with loss below 100 after down: the outage ends at the
//     measurement before, and the link is up (or degraded by rule 4);
//  4. degraded after kDegradedAfter measurements in a row at the threshold or above, and not down;
//     up again at the first measurement below the threshold;
//  5. a measurement whose requests all failed because the host's name does not exist is no loss of
//     the link: it ends every streak, and the condition is unknown until a real measurement.
class LinkState {
 public:
  explicit LinkState(AlertSettings settings = {}) : settings_(settings) {}

  // A new run begins, or the run stops: the condition is unknown, nothing is pending.
  void Reset();
  // Takes one measurement of the run; the event it makes, if any.
  std::optional<LinkEvent> Add(const Measurement& measurement, bool no_such_host = false);

  LinkCondition condition() const { return condition_; }
  // The outage under way, while down.
  const std::optional<Outage>& outage() const { return outage_; }
  const AlertSettings& settings() const { return settings_; }

 private:
  AlertSettings settings_;
  LinkCondition condition_ = LinkCondition::kUnknown;
  int lost_in_a_row_ = 0;         // at 100 %
  int degraded_in_a_row_ = 0;     // at the threshold or above
  std::optional<Outage> outage_;  // the streak at 100 %, an outage once it is long enough
};

// The texts of the desktop notification of an event, in French: "Coupure : HOST" with "Aucune
// réponse depuis 14:02", then "Rétabli : HOST" with "Coupure de 37 min (14:02 – 14:38)".
struct AlertText {
  std::string summary;
  std::string body;
};
AlertText AlertTextOf(const LinkEvent& event, const std::string& host);

}  // namespace trelvane
