#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "measure/clock.h"
#include "measure/measurement.h"

namespace trelvane {

// Sends one burst exactly as a measurement does: kRequestsPerBurst requests one after another
// through `ping`, each result handed to `on_result` as it arrives, the time stamp read after
// every request. Returns the measurement the burst makes.
Measurement RunBurst(const std::function<std::string()>& ping, const Clock& clock,
                     const std::function<void(std::string_view)>& on_result);

}  // namespace trelvane
