#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "alert/link_state.h"
#include "measure/burst.h"

namespace trelvane {

// The figures a measuring program gives Prometheus, for one target, kept from its start: counters
// only grow (Stop and Start keep them), and start again at zero with the process, as a scraper
// expects.
class Metrics {
 public:
  // The round-trip times' buckets, in seconds: from 1 ms to 2 s, the graph's scale.
  static constexpr std::array<double, 10> kBuckets = {0.001, 0.005, 0.01, 0.02, 0.05,
                                                      0.1,   0.2,   0.5,  1,    2};

  // What is measured: the host as typed, and the address its requests went to.
  void SetTarget(std::string target) { target_ = std::move(target); }
  // A request of the burst under way: its result text ("23 ms", "Timeout", ...) and the address
  // it went to (empty when none). It counts once the burst is complete.
  void AddReply(std::string_view result, std::string_view address);
  // The burst under way ends without a measurement (Stop): its requests never count.
  void DropBurst() { pending_ = {}; }
  // The burst's measurement: its loss, its response time, when it was taken (seconds since the
  // epoch) and the link's condition after it. Its requests count now.
  void AddMeasurement(int loss_percent, int response_ms, std::int64_t unix_seconds,
                      LinkCondition condition);
  // The condition alone (a new run: unknown).
  void SetCondition(LinkCondition condition) { condition_ = condition; }

  std::int64_t requests() const { return counts_.requests; }
  std::int64_t replies() const { return counts_.replies; }

  // The text exposition: Prometheus's text format 0.0.4, or OpenMetrics 1.0.0 (with its "# EOF").
  std::string Exposition(bool open_metrics, std::string_view version) const;
  // The Content-Type of each.
  static std::string_view ContentType(bool open_metrics);
  // Whether a scraper's Accept header asks for OpenMetrics.
  static bool WantsOpenMetrics(std::string_view accept);

 private:
  struct Counts {
    std::int64_t requests = 0;
    std::int64_t replies = 0;
    std::array<std::int64_t, kBuckets.size() + 1> buckets{};  // each its own; the last: above 2 s
    std::int64_t round_trip_sum_ms = 0;
  };
  static void Add(Counts& to, const Counts& from);

  std::string target_;
  Counts counts_;
  Counts pending_;  // of the burst under way
  std::string address_;
  std::optional<int> last_loss_;
  std::optional<int> last_response_ms_;
  std::optional<std::int64_t> last_unix_seconds_;
  LinkCondition condition_ = LinkCondition::kUnknown;
};

// A label value as the exposition writes it: backslash, double quote and line feed escaped.
std::string LabelValue(std::string_view text);

// Writes `text` to `path` whole: a temporary file in the same folder, then a rename over it, so
// that a reader sees the old file or the new one, never a part. The error's text on failure.
std::optional<std::string> WriteFileWhole(const std::string& path, std::string_view text);

}  // namespace trelvane
