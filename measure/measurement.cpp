#include "measure/measurement.h"

namespace trelvane {

StampParts ReadStamp(std::string_view stamp) {
  return StampParts{stamp.substr(0, 10), stamp.substr(stamp.size() > 5 ? stamp.size() - 5 : 0)};
}

std::string MeasurementLine(const Measurement& measurement) {
  return measurement.stamp + " " + measurement.loss + " " + measurement.response;
}

}  // namespace trelvane
