#include "graph/graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "graph/axes.h"
#include "graph/geometry.h"

namespace trelvane {
namespace {

constexpr double W = 5000.0 / 120;

TEST(AxesTest, ResponseBandEnds) {
  const std::pair<double, double> cases[] = {
      {0, 4000},      {50, 2000}, {51, 1984},     {100, 1200}, {101, 1196},     {200, 800},
      {201, 798.667}, {500, 400}, {501, 399.733}, {2000, 0},   {2500, -133.333}};
  for (const auto& [ms, y] : cases) EXPECT_NEAR(ResponseY(ms), y, 0.001) << ms << " ms";
  for (const int loss : {0, 50, 100}) EXPECT_DOUBLE_EQ(LossY(loss), 4000 - 40 * loss);
}

// A series from newest to oldest: {"hh:mm", loss, response}, all on 06/12/2026.
struct Item {
  std::string time;
  int loss;
  int response;
};
MeasurementSeries Series(const std::vector<Item>& newest_first,
                         const std::string& date = "06/12/2026") {
  MeasurementSeries series;
  for (auto it = newest_first.rbegin(); it != newest_first.rend(); ++it) {
    series.Prepend({date + "-" + it->time, std::to_string(it->loss), std::to_string(it->response)});
  }
  return series;
}

// `count` measurements a minute apart, newest at 23:59 of one day going back; item i has loss
// i % 10 and response 20 + i % 30.
MeasurementSeries MinuteSeries(int count) {
  std::vector<Item> items;
  for (int i = 0, minute = 24 * 60 - 1; i < count; ++i, --minute) {
    items.push_back({std::to_string(100 + minute / 60).substr(1) + ":" +
                         std::to_string(100 + minute % 60).substr(1),
                     i % 10, 20 + i % 30});
  }
  return Series(items);
}

std::vector<Line> OfColour(const GraphDrawing& drawing, Rgb colour) {
  std::vector<Line> lines;
  std::copy_if(drawing.lines.begin(), drawing.lines.end(), std::back_inserter(lines),
               [&](const Line& l) { return l.colour == colour; });
  return lines;
}

// The band constants carry ten decimals: 2000 ms lands within 1e-7 of the top edge.
void ExpectLine(const Line& l, double x1, double y1, double x2, double y2) {
  EXPECT_TRUE(
      std::abs(l.x1 - x1) + std::abs(l.y1 - y1) + std::abs(l.x2 - x2) + std::abs(l.y2 - y2) < 1e-6)
      << l.x1 << "," << l.y1 << " " << l.x2 << "," << l.y2;
}

// The hour labels from the oldest, then the date.
std::vector<std::string> Labels(const GraphDrawing& g) { return {g.lh1, g.lh2, g.lh3, g.lh4}; }
using Strings = std::vector<std::string>;

TEST(DrawGraphTest, StartupGridCoversTheWholeArea) {
  const std::vector<Line> grid = StartupGrid();
  ASSERT_EQ(grid.size(), 20u + 10u + 60u + 12u);
  ExpectLine(grid[0], 0, 200, 5000, 200);
  ExpectLine(grid[20 + 9], 0, 4000, 5000, 4000);
  EXPECT_EQ(grid[20].colour, kMajorGridColour);
  const double x = static_cast<float>(5000.0 / 60);  // single precision, as the grid is drawn
  ExpectLine(grid[30], x, 0, x, 4000);
  EXPECT_EQ(grid[30].colour, kMinorGridColour);
  ExpectLine(grid[30 + 60 + 11], 5000, 0, 5000, 4000);
  for (const Line& line : grid) EXPECT_TRUE(line.x1 == line.x2 || line.y1 == line.y2);
}

TEST(DrawGraphTest, NothingAtTheOffsetChangesNothing) {
  EXPECT_FALSE(DrawGraph(MeasurementSeries(), 0).has_value());
  EXPECT_FALSE(DrawGraph(Series({{"14:37", 0, 20}}), 1).has_value());
  MeasurementSeries open;
  open.OpenMeasurement();  // the placeholder of a burst under way
  EXPECT_FALSE(DrawGraph(open, 0).has_value());
}

TEST(DrawGraphTest, OneMeasurementAt1437) {
  const GraphDrawing g = DrawGraph(Series({{"14:37", 25, 30}}), 0).value();
  EXPECT_EQ(Labels(g), (Strings{"12:37", "13:37", "14:37", "06/12/2026"}));
  EXPECT_FALSE(g.older_enabled || g.newer_enabled);

  const std::vector<Line> bars = OfColour(g, kLossBarColour);
  ASSERT_EQ(bars.size(), 1u);
  ExpectLine(bars[0], 5000 - W, 4000, 5000 - W, 3000);  // x = 4958.33...
  EXPECT_TRUE(OfColour(g, kResponseColour).empty());
  EXPECT_TRUE(OfColour(g, kAverageColour).empty());

  // Ten major horizontal lines, then the vertical ones on the ten minutes: 12:40 to 14:30.
  const std::vector<Line> major = OfColour(g, kMajorGridColour);
  ASSERT_EQ(major.size(), 10u + 12u);
  ExpectLine(major[9], 0, 4000, 5000, 4000);
  ExpectLine(major[10], 2 * W, 0, 2 * W, 4000);
  ExpectLine(major[21], 112 * W, 0, 112 * W, 4000);
  const std::vector<Line> minor = OfColour(g, kMinorGridColour);
  ASSERT_EQ(minor.size(), 20u + 65u);
  ExpectLine(minor[20], 2 * W - 8 * W, 0, 2 * W - 8 * W, 4000);  // left of 0: clipped

  // The hour marker comes last, over everything.
  ExpectLine(g.lines.back(), 2460, 0, 2460, 4000);
  EXPECT_EQ(g.lines.back().colour, kHourMarkerColour);
}

TEST(DrawGraphTest, MidnightWrapsHoursAndDate) {
  const GraphDrawing g = DrawGraph(Series({{"00:30", 0, 20}, {"23:59", 100, 2000}}), 0).value();
  EXPECT_EQ(Labels(g), (Strings{"22:30", "23:30", "00:30", "05/12/2026"}));
  const std::vector<Line> bars = OfColour(g, kLossBarColour);
  ASSERT_EQ(bars.size(), 2u);
  ExpectLine(bars[0], 5000 - 32 * W, 4000, 5000 - 32 * W, 0);  // 31 minutes older, 100 %
  // Its response point lies on the top edge: 2000 ms.
  ExpectLine(OfColour(g, kResponseColour).at(0), 5000 - 31 * W, 3200, 5000 - 32 * W, 0);

  // The day before the first of a year; none after one o'clock.
  EXPECT_EQ(DrawGraph(Series({{"00:00", 0, 20}}, "01/01/2027"), 0)->lh4, "31/12/2026");
  EXPECT_EQ(DrawGraph(Series({{"01:00", 0, 20}}, "01/01/2027"), 0)->lh4, "01/01/2027");
}

TEST(DrawGraphTest, ResponseLineAndMovingAverage) {
  const GraphDrawing g = DrawGraph(Series({{"14:37", 0, 100}, {"14:35", 0, 50}}), 0).value();
  const std::vector<Line> response = OfColour(g, kResponseColour);
  ASSERT_EQ(response.size(), 1u);
  // From the position of 14:36 at the newer one's height to 14:35 at its own.
  ExpectLine(response[0], 5000 - 2 * W, 1200, 5000 - 3 * W, 2000);

  const GraphDrawing h = DrawGraph(MinuteSeries(9), 0).value();
  EXPECT_EQ(OfColour(h, kLossBarColour).size(), 9u);
  EXPECT_EQ(OfColour(h, kResponseColour).size(), 8u);  // items 1 to 8
  const std::vector<Line> average = OfColour(h, kAverageColour);
  ASSERT_EQ(average.size(), 2u);  // items 8 and 7, oldest first
  // Item 7 (m = 7): A1 = mean loss of items 0..6 = 3, A0 = mean of items 1..7 = 4.
  ExpectLine(average[1], 5000 - 4 * W, 4000 - 40 * 3.0, 5000 - 5 * W, 4000 - 40 * 4.0);
  // A whole-number mean. Item 7: A1 = (4 + 0 ... 0) / 7 rounds down to 0, A0 = (4 + 4 + 0 ... 0) /
  // 7 to 1.
  std::vector<Item> items(8, Item{"14:00", 0, 20});
  for (int i = 0; i < 8; ++i) items[i].time = "14:0" + std::to_string(9 - i);
  items[6].loss = items[7].loss = 4;
  const std::vector<Line> whole = OfColour(DrawGraph(Series(items), 0).value(), kAverageColour);
  ASSERT_EQ(whole.size(), 1u);
  ExpectLine(whole[0], 5000 - 4 * W, 4000, 5000 - 5 * W, 4000 - 40);
}

TEST(DrawGraphTest, StampsAreReadByPositionWhateverTheSeparators) {
  const GraphDrawing mixed =
      DrawGraph(Series({{"00:15", 0, 20}, {"00.14", 0, 20}}, "01.03.2026"), 0).value();
  EXPECT_EQ(Labels(mixed), (Strings{"22:15", "23:15", "00:15", "28.02.2026"}));
  EXPECT_EQ(OfColour(mixed, kResponseColour).size(), 1u);
}

TEST(DrawGraphTest, StretchAtOffset40Of150) {
  const MeasurementSeries series = MinuteSeries(150);
  const GraphDrawing g = DrawGraph(series, 40).value();
  EXPECT_TRUE(g.older_enabled && g.newer_enabled);
  EXPECT_EQ(OfColour(g, kLossBarColour).size(), 110u);  // items 40 to 149
  const Line newest_response = OfColour(g, kResponseColour).back();
  // Item 40 (30 ms) reaches the right edge at the height of item 39 (29 ms).
  ExpectLine(newest_response, 5000, ResponseY(29), 5000 - W, ResponseY(30));
  const Line newest_average = OfColour(g, kAverageColour).back();
  EXPECT_GT(std::min(newest_average.x1, newest_average.x2), 5000);  // wholly right: clipped
  // The older buttons need more than offset + 30 measurements.
  EXPECT_TRUE(DrawGraph(MinuteSeries(31), 0)->older_enabled);
  EXPECT_FALSE(DrawGraph(MinuteSeries(30), 0)->older_enabled);
  EXPECT_FALSE(DrawGraph(MinuteSeries(31), 1)->older_enabled);
  EXPECT_TRUE(DrawGraph(MinuteSeries(31), 1)->newer_enabled);
}

TEST(DrawGraphTest, IncompleteItemsArePassedOver) {
  MeasurementSeries series = MinuteSeries(12);
  series.OpenMeasurement();  // item 0: "..."
  // Offset 1: item 0 is the newer neighbour of item 1, and in the averages of items 7 and 8.
  const GraphDrawing g = DrawGraph(series, 1).value();
  EXPECT_EQ(OfColour(g, kLossBarColour).size(), 12u);
  EXPECT_EQ(OfColour(g, kResponseColour).size(), 11u);  // none from item 1 to "..."
  EXPECT_EQ(OfColour(g, kAverageColour).size(), 5u);    // items 8 to 12: none reaching item 0
}

TEST(ScrollTickTest, Bounds) {
  struct Case {
    int offset, step, count, expected;
  };
  const Case cases[] = {
      {0, 1, 100, 1},  {60, 20, 100, 80}, {80, 20, 100, 80}, {79, 1, 100, 80}, {5, -20, 100, 0},
      {1, -1, 100, 0}, {0, -1, 100, 0},   {0, 20, 0, 0},     {0, 1, 15, 0},    {10, 0, 100, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScrollTick(c.offset, c.step, c.count), c.expected)
        << c.offset << " + " << c.step << " of " << c.count;
  }
}

}  // namespace
}  // namespace trelvane
