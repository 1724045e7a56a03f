#include "measure/series.h"

#include <cstdint>

#include "measure/numbers.h"

namespace trelvane {

void MeasurementSeries::Clear() {
  replies_.clear();
  measurements_.clear();
}

void MeasurementSeries::ClearReplies() { replies_.clear(); }

void MeasurementSeries::AddReply(std::string reply) { replies_.push_front(std::move(reply)); }

void MeasurementSeries::OpenMeasurement() {
  const std::string placeholder(kPlaceholder);
  measurements_.push_front(Measurement{placeholder, placeholder, placeholder});
}

void MeasurementSeries::SetNewest(Measurement measurement) {
  if (measurements_.empty()) {
    measurements_.push_front(std::move(measurement));
  } else {
    measurements_.front() = std::move(measurement);
  }
}

void MeasurementSeries::Prepend(Measurement measurement) {
  measurements_.push_front(std::move(measurement));
}

const Measurement* MeasurementSeries::Item(int k) const {
  if (k < 0 || k >= Count()) return nullptr;
  return &measurements_[static_cast<std::size_t>(k)];
}

std::optional<SinceStart> SinceStartFigures(const MeasurementSeries& series) {
  std::int64_t loss_sum = 0;
  std::int64_t response_sum = 0;
  std::int64_t count = 0;
  for (int k = 0; k < series.Count(); ++k) {
    const Measurement& m = *series.Item(k);
    const std::optional<int> loss = ParseWholeNumber(m.loss);
    const std::optional<int> response = ParseWholeNumber(m.response);
    if (!loss || !response) continue;
    loss_sum += *loss;
    response_sum += *response;
    ++count;
  }
  if (count == 0) return std::nullopt;
  // Figures are never negative, so the quotients round down.
  return SinceStart{static_cast<int>(loss_sum / count), static_cast<int>(response_sum / count)};
}

}  // namespace trelvane
