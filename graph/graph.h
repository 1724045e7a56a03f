#pragma once

#include <optional>
#include <string>
#include <vector>

#include "graph/geometry.h"
#include "measure/series.h"

namespace trelvane {

inline constexpr Rgb kLossBarColour{160, 0, 0};
inline constexpr Rgb kResponseColour{0, 255, 0};
inline constexpr Rgb kAverageColour{255, 0, 0};
inline constexpr Rgb kHourMarkerColour{255, 128, 0};
// Measurements in the stretch the graph shows, and in the moving average of the loss.
inline constexpr int kStretch = 120;
inline constexpr int kAverageSpan = 7;
inline constexpr int kLargeScrollStep = 20;

// Everything one redraw puts on the screen.
struct GraphDrawing {
  std::vector<Line> lines;     // in drawing order, over a cleared area
  std::string lh1;             // reference time less two hours, "hh:mm"
  std::string lh2;             // reference time less one hour
  std::string lh3;             // reference time, the newest measurement shown
  std::string lh4;             // date of the reference less one hour, "dd/mm/yyyy"
  bool older_enabled = false;  // "<" and "<<": the series holds more than offset + 30
  bool newer_enabled = false;  // ">" and ">>": the offset is above 0
};

// The graph of the stretch of `series` whose newest measurement is item `offset`:
//  1. nothing (the screen keeps its drawing) when there is no complete measurement at `offset`;
//  2. the horizontal grid, then the vertical grid aligned on the reference minute;
//  3. oldest first, per measurement: its loss bar, the response segment towards the next newer
//     measurement, and the segment of the seven-measurement moving average;
//  4. the orange marker one hour before the reference.
// A measurement of the stretch that is not complete (the placeholder "...", a stamp without a
// time of day, a figure that is not a number) is passed over with the segments that need it.
std::optional<GraphDrawing> DrawGraph(const MeasurementSeries& series, int offset);

// The index of the newest complete measurement of the series (a time of day, a loss and a response
// time that are numbers), where a replay's graph ends; nothing when there is none.
std::optional<int> NewestCompleteMeasurement(const MeasurementSeries& series);

// The offset after one tick of the scroll auto-repeat: offset + step, kept between 0 and
// count - large_step (never below 0).
int ScrollTick(int offset, int step, int count, int large_step = kLargeScrollStep);

}  // namespace trelvane
