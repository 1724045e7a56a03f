#include "graph/geometry.h"

#include "graph/axes.h"

namespace trelvane {

std::vector<Line> StartupGrid() {
  std::vector<Line> lines;
  auto horizontal = [&](int count, Rgb colour) {
    for (int k = 1; k <= count; ++k) {
      const double y = static_cast<float>(k * kGraphHeight / count);
      lines.push_back({0, y, kGraphWidth, y, colour});
    }
  };
  auto vertical = [&](int count, Rgb colour) {
    for (int k = 1; k <= count; ++k) {
      const double x = static_cast<float>(k * kGraphWidth / count);
      lines.push_back({x, 0, x, kGraphHeight, colour});
    }
  };
  horizontal(20, kMinorGridColour);
  horizontal(10, kMajorGridColour);
  vertical(60, kMinorGridColour);
  vertical(12, kMajorGridColour);
  return lines;
}

}  // namespace trelvane
