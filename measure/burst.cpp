#include "measure/burst.h"

#include <array>
#include <limits>
#include <string_view>

#include "measure/numbers.h"

namespace trelvane {
namespace {
constexpr std::string_view kMsSuffix = " ms";
}

std::optional<int> RoundTripOf(std::string_view result) {
  if (result.size() <= kMsSuffix.size() || !result.ends_with(kMsSuffix)) return std::nullopt;
  const std::optional<int> value = ParseWholeNumber(result.substr(0, result.size() - 3));
  if (!value || *value < 0) return std::nullopt;
  return value;
}

void BurstCounters::Count(std::string_view result) {
  const std::optional<int> rtt = RoundTripOf(result);
  if (!rtt) {
    ++lost_;
    return;
  }
  ++answered_;
  // A round trip is capped by the prober's timeout; saturate rather than overflow all the same.
  const std::int32_t room = std::numeric_limits<std::int32_t>::max() - sum_ms_;
  sum_ms_ += *rtt < room ? *rtt : room;
}

int BurstCounters::ResponseTimeMs() const {
  return answered_ > 0 ? sum_ms_ / answered_ : kNoAnswerResponseMs;
}

int BurstCounters::LossPercent() const {
  const int total = counted();
  return total > 0 ? 100 * lost_ / total : 0;
}

std::optional<int> AnsweredOf(int loss_percent) {
  // Per loss: the answers of the burst that gives it, -1 for none (exports ask for every line).
  static constexpr auto kAnswered = [] {
    std::array<int, 101> answered{};
    answered.fill(-1);
    for (int lost = 0; lost <= kRequestsPerBurst; ++lost) {
      answered[static_cast<std::size_t>(100 * lost / kRequestsPerBurst)] = kRequestsPerBurst - lost;
    }
    return answered;
  }();
  if (loss_percent < 0 || loss_percent > 100) return std::nullopt;
  const int answered = kAnswered[static_cast<std::size_t>(loss_percent)];
  return answered >= 0 ? std::optional<int>(answered) : std::nullopt;
}

int ProgressPercent(int request) { return 100 * request / kRequestsPerBurst; }

}  // namespace trelvane
