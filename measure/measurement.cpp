#include "measure/measurement.h"

namespace trelvane {

std::string MeasurementLine(const Measurement& measurement) {
  return measurement.stamp + " " + measurement.loss + " " + measurement.response;
}

}  // namespace trelvane
