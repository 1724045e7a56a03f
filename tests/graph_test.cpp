#include <gtest/gtest.h>

#include "graph/axes.h"

namespace trelvane {
namespace {

TEST(ResponseAxisTest, BandEnds) {
  const std::pair<double, double> cases[] = {
      {0, 4000},      {50, 2000}, {51, 1984},     {100, 1200}, {101, 1196},     {200, 800},
      {201, 798.667}, {500, 400}, {501, 399.733}, {2000, 0},   {2500, -133.333}};
  for (const auto& [ms, y] : cases) EXPECT_NEAR(ResponseY(ms), y, 0.001) << ms << " ms";
}

TEST(LossAxisTest, Percentages) {
  EXPECT_DOUBLE_EQ(LossY(0), 4000);
  EXPECT_DOUBLE_EQ(LossY(50), 2000);
  EXPECT_DOUBLE_EQ(LossY(100), 0);
}

}  // namespace
}  // namespace trelvane
