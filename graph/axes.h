#pragma once

namespace trelvane {

// The graph's drawing area in twips: 120 minutes across, 0 to 100 % and 0 to 2000 ms up.
inline constexpr double kGraphWidth = 5000.0;
inline constexpr double kGraphHeight = 4000.0;
inline constexpr double kMinuteWidth = kGraphWidth / 120.0;

// y of a packet loss in percent: 4000 at 0 %, 0 at 100 %.
double LossY(double loss_percent);

// y of a response time in milliseconds on the piecewise-linear scale of five bands
// (0-50, 51-100, 101-200, 201-500, the rest), each band both ends included.
double ResponseY(double response_ms);

}  // namespace trelvane
