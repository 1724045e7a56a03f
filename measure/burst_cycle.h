#pragma once

#include <optional>

#include "measure/burst.h"
#include "measure/clock.h"
#include "measure/measurement.h"
#include "probe/pinger.h"

namespace trelvane {

// The cycle's rhythm: the first burst a second after a run starts, then one a minute.
inline constexpr int kFirstTickMs = 1000;
inline constexpr int kTickMs = 60000;

// The rules of one burst, for the window and the terminal alike:
//  1. a burst belongs to a run (its generation); a reply that comes back for another run, or after
//     the burst was dropped (Stop), is not counted;
//  2. kRequestsPerBurst requests are sent one after another, request n only once reply n-1 came;
//  3. each reply is counted, and the measurement so far is formed from the counters with the
//     stamp read after that reply;
//  4. a reply that failed for want of the privilege to send ICMP marks the burst not permitted;
//  5. a burst whose every reply failed because the host's name does not exist is a burst of a
//     name that does not exist, not a measurement of a dead link.
class BurstCycle {
 public:
  explicit BurstCycle(const Clock& clock) : clock_(clock) {}

  // Opens a burst of run `generation`; request 1 is the one to send.
  void Begin(unsigned generation);
  // Ends the burst under way: its late replies are not counted.
  void Drop() { active_ = false; }
  bool running(unsigned generation) const { return active_ && generation_ == generation; }

  // The request to send (1 to kRequestsPerBurst), and the progress shown while it is in flight.
  int request() const { return request_; }
  int progress_percent() const { return ProgressPercent(request_); }

  // Counts the reply to the request in flight: the measurement so far, or nothing when the reply
  // belongs to no open burst of run `generation`.
  std::optional<Measurement> Count(unsigned generation, const PingResult& reply);
  // After a counted reply: true when another request is due (request() is now it), false when the
  // burst is complete (it is closed then).
  bool Advance();

  bool not_permitted() const { return not_permitted_; }
  bool no_such_host() const { return counters_.counted() > 0 && no_such_host_; }

 private:
  const Clock& clock_;
  bool active_ = false;
  unsigned generation_ = 0;
  int request_ = 0;
  BurstCounters counters_;
  bool not_permitted_ = false;
  bool no_such_host_ = true;  // so far
};

}  // namespace trelvane
