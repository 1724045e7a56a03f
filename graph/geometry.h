#pragma once

#include <cstdint>
#include <vector>

namespace trelvane {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kMinorGridColour{0, 64, 0};
inline constexpr Rgb kMajorGridColour{0, 128, 0};

// A straight line on the graph, end points in twips from the top left corner of the drawing area.
struct Line {
  double x1 = 0;
  double y1 = 0;
  double x2 = 0;
  double y2 = 0;
  Rgb colour;
  bool operator==(const Line&) const = default;
};

// The empty grid drawn at start-up: horizontal lines every 200 twips (then the brighter ones every
// 400), vertical lines every 5000/60 twips (then the brighter ones every 5000/12), over the whole
// 5000 x 4000 area.
std::vector<Line> StartupGrid();

}  // namespace trelvane
