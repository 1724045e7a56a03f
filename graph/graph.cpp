#include "graph/graph.h"

#include <cstdint>

#include "graph/axes.h"
#include "measure/calendar.h"
#include "measure/clock.h"
#include "measure/measurement.h"
#include "measure/numbers.h"

namespace trelvane {
namespace {

constexpr int kMinutesPerDay = 1440;
constexpr double kMarkerX = 2460;

// A measurement read as numbers.
struct Point {
  int minute_of_day = 0;
  int loss = 0;
  int response = 0;
};

// The time of day "hh:mm" that ends a stamp, in minutes. The fields are taken by position: the
// separator is the one of the regional settings the stamp was written with, whatever it is.
std::optional<int> MinuteOfDay(const std::string& stamp) {
  if (stamp.size() < 5) return std::nullopt;
  const std::string_view time = ReadStamp(stamp).time;
  const std::optional<int> hours = ParseWholeNumber(time.substr(0, 2));
  const std::optional<int> minutes = ParseWholeNumber(time.substr(3, 2));
  if (!hours || !minutes || *hours < 0 || *hours > 23 || *minutes < 0 || *minutes > 59) {
    return std::nullopt;
  }
  return *hours * 60 + *minutes;
}

std::optional<Point> Read(const MeasurementSeries& series, int k) {
  const Measurement* m = series.Item(k);
  if (m == nullptr) return std::nullopt;
  const std::optional<int> minute = MinuteOfDay(m->stamp);
  const std::optional<int> loss = ParseWholeNumber(m->loss);
  const std::optional<int> response = ParseWholeNumber(m->response);
  if (!minute || !loss || !response) return std::nullopt;
  return Point{*minute, *loss, *response};
}

// "hh:mm" with the stamp's own time separator.
std::string HourText(int minute_of_day, char separator) {
  const int m = ((minute_of_day % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay;
  std::string text = std::to_string(100 + m / 60).substr(1) + separator;
  return text + std::to_string(100 + m % 60).substr(1);
}

// The date "dd/mm/yyyy" at the start of the stamp, one day earlier when `previous_day`, with the
// stamp's own date separator; empty when the stamp holds no valid date.
std::string DateText(const std::string& stamp, bool previous_day) {
  if (stamp.size() < 10) return {};
  const std::optional<int> day = ParseWholeNumber(std::string_view(stamp).substr(0, 2));
  const std::optional<int> month = ParseWholeNumber(std::string_view(stamp).substr(3, 2));
  const std::optional<int> year = ParseWholeNumber(std::string_view(stamp).substr(6, 4));
  if (!day || !month || !year || *month < 1 || *month > 12 || *year < 1 || *day < 1 ||
      *day > DaysInMonth(*year, *month)) {
    return {};
  }
  LocalTime date{*year, *month, *day};
  if (previous_day && --date.day == 0) {
    if (--date.month == 0) {
      date.month = 12;
      --date.year;
    }
    date.day = DaysInMonth(date.year, date.month);
  }
  return FormatDate(date, stamp[2]);
}

}  // namespace

std::optional<GraphDrawing> DrawGraph(const MeasurementSeries& series, int offset) {
  const Measurement* reference_item = series.Item(offset);
  if (reference_item == nullptr) return std::nullopt;
  const std::optional<int> reference = MinuteOfDay(reference_item->stamp);
  if (!reference) return std::nullopt;  // an open measurement: nothing to align the graph on
  const std::string& stamp = reference_item->stamp;

  GraphDrawing drawing;
  std::vector<Line>& lines = drawing.lines;
  constexpr double W = kMinuteWidth;

  for (int k = 1; k <= 20; ++k) {
    lines.push_back(
        {0, k * (kGraphHeight / 20), kGraphWidth, k * (kGraphHeight / 20), kMinorGridColour});
  }
  for (int k = 1; k <= 10; ++k) {
    lines.push_back(
        {0, k * (kGraphHeight / 10), kGraphWidth, k * (kGraphHeight / 10), kMajorGridColour});
  }
  const int d = stamp.back() - '0';
  const double s = (d + 1) * W;
  for (int k = 1; k <= 65; ++k) {
    const double x = k * kGraphWidth / 60 - s;
    lines.push_back({x, 0, x, kGraphHeight, kMinorGridColour});
  }
  for (int k = 1; k <= 12; ++k) {
    const double x = k * kGraphWidth / 12 - s;
    lines.push_back({x, 0, x, kGraphHeight, kMajorGridColour});
  }

  // Indexes are series indexes, so the newest measurement shown at an offset above 0 still
  // reaches towards its newer neighbours beyond the right end.
  for (int i = offset + kStretch - 1; i >= offset; --i) {
    const std::optional<Point> item = Read(series, i);
    if (!item) continue;
    int m = *reference - item->minute_of_day;
    if (m < 0) m += kMinutesPerDay;
    const double x = kGraphWidth - (m + 1) * W;
    lines.push_back({x, kGraphHeight, x, LossY(item->loss), kLossBarColour});
    if (i > 0) {
      if (const std::optional<Point> newer = Read(series, i - 1)) {
        lines.push_back({kGraphWidth - m * W, ResponseY(newer->response), x,
                         ResponseY(item->response), kResponseColour});
      }
    }
    if (i >= kAverageSpan) {
      std::int64_t newer_sum = 0;  // items i - 7 to i - 1
      std::int64_t older_sum = 0;  // items i - 6 to i
      bool complete = true;
      for (int j = i - kAverageSpan; j <= i && complete; ++j) {
        const std::optional<Point> p = Read(series, j);
        complete = p.has_value();
        if (!complete) break;
        if (j < i) newer_sum += p->loss;
        if (j > i - kAverageSpan) older_sum += p->loss;
      }
      if (complete) {
        // Whole-number means: every division of the figures rounds down.
        // NOLINTBEGIN(bugprone-integer-division)
        const auto a1 = static_cast<double>(newer_sum / kAverageSpan);
        const auto a0 = static_cast<double>(older_sum / kAverageSpan);
        // NOLINTEND(bugprone-integer-division)
        lines.push_back({kGraphWidth - (m - 3) * W, LossY(a1), kGraphWidth - (m - 2) * W, LossY(a0),
                         kAverageColour});
      }
    }
  }

  const bool previous_day = *reference < 60;
  drawing.lh4 = DateText(stamp, previous_day);
  const char time_separator = stamp[stamp.size() - 3];
  drawing.lh3 = HourText(*reference, time_separator);
  drawing.lh2 = HourText(*reference - 60, time_separator);
  drawing.lh1 = HourText(*reference - 120, time_separator);
  drawing.older_enabled = series.Count() > offset + 30;
  drawing.newer_enabled = offset > 0;

  lines.push_back({kMarkerX, 0, kMarkerX, kGraphHeight, kHourMarkerColour});
  return drawing;
}

std::optional<int> NewestCompleteMeasurement(const MeasurementSeries& series) {
  for (int k = 0; k < series.Count(); ++k) {
    if (Read(series, k)) return k;
  }
  return std::nullopt;
}

int ScrollTick(int offset, int step, int count, int large_step) {
  const std::int64_t t = static_cast<std::int64_t>(offset) + step;
  if (t < 0) return 0;
  const std::int64_t u = static_cast<std::int64_t>(count) - large_step;
  if (t > u) return u < 0 ? 0 : static_cast<int>(u);
  return static_cast<int>(t);
}

}  // namespace trelvane
