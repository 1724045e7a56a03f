#pragma once

#include <deque>
#include <optional>
#include <string>

#include "measure/measurement.h"

namespace trelvane {

// The text of every item of an open measurement, one whose first request is not yet counted.
inline constexpr std::string_view kPlaceholder = "...";

// The measurements of the run on show, newest first (index 0), and the replies of the burst in
// progress, newest first. Everything is kept as text; readers convert where they need numbers.
class MeasurementSeries {
 public:
  // Empties the replies and the measurements.
  void Clear();
  void ClearReplies();
  void AddReply(std::string reply);
  // Puts the placeholder "..." measurement at the top.
  void OpenMeasurement();
  // Replaces the newest measurement (opens one first if the series is empty).
  void SetNewest(Measurement measurement);
  // Inserts a measurement at the top; the replay prepends in file order.
  void Prepend(Measurement measurement);

  int Count() const { return static_cast<int>(measurements_.size()); }
  // The measurement at index k, or nullptr when there is none.
  const Measurement* Item(int k) const;
  const std::deque<std::string>& replies() const { return replies_; }

 private:
  std::deque<std::string> replies_;
  std::deque<Measurement> measurements_;
};

// The figures since the start of the run: the floor of the mean loss and of the mean response time
// over every measurement of the series whose texts are numbers. Nothing for a series without one.
struct SinceStart {
  int loss = 0;
  int response = 0;
  bool operator==(const SinceStart&) const = default;
};
std::optional<SinceStart> SinceStartFigures(const MeasurementSeries& series);

}  // namespace trelvane
