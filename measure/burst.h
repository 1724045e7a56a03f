#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace trelvane {

inline constexpr int kRequestsPerBurst = 24;
// The response time of a burst in which no request was answered.
inline constexpr int kNoAnswerResponseMs = 2000;

// The round-trip time of a result text "<n> ms"; nothing for "Timeout", "Err", "SZErr" or any
// other text.
std::optional<int> RoundTripOf(std::string_view result);

// The counters of one burst and the figures formed from them.
class BurstCounters {
 public:
  // A result with a round-trip time is answered; every other result ("Timeout", and also "Err"
  // and "SZErr", from which no number can be formed) is lost.
  void Count(std::string_view result);

  int lost() const { return lost_; }
  int answered() const { return answered_; }
  std::int32_t sum_ms() const { return sum_ms_; }
  int counted() const { return lost_ + answered_; }

  // floor(sum / answered), or kNoAnswerResponseMs while nothing was answered.
  int ResponseTimeMs() const;
  // floor(100 × lost / (lost + answered)); 0 before the first request is counted.
  int LossPercent() const;

 private:
  int lost_ = 0;
  int answered_ = 0;
  std::int32_t sum_ms_ = 0;
};

// The requests of a burst that were answered, from its loss: the one count of lost requests out
// of kRequestsPerBurst that gives that loss once rounded down; nothing for a loss no burst gives.
std::optional<int> AnsweredOf(int loss_percent);

// The progress shown before request `request` (1 to 24): floor(100 × request / 24).
int ProgressPercent(int request);

}  // namespace trelvane
