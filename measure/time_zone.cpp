#include "measure/time_zone.h"

#include <climits>
#include <cstdio>
#include <utility>

#include "measure/calendar.h"

namespace trelvane {
namespace {

// No zone changes its offset twice within this many minutes around a day.
constexpr std::int64_t kMargin = std::int64_t{14} * 60;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : (a - b + 1) / b; }

}  // namespace

std::string IsoMinuteWithOffset(const Instant& instant) {
  const int magnitude = instant.offset < 0 ? -instant.offset : instant.offset;
  char offset[16];
  std::snprintf(offset, sizeof(offset), "%c%02d:%02d", instant.offset < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
  return IsoMinute(instant.local) + offset;
}

ZoneRules::ZoneRules() { ReadZoneRules(); }

int ZoneRules::OffsetAt(std::int64_t utc_minute) const { return UtcOffsetAt(utc_minute); }

ZoneRules::Moments ZoneRules::MomentsOfAnotherDay(std::int64_t local_minute) {
  const std::int64_t day = FloorDiv(local_minute, kMinutesPerDay);
  auto cached = day_offsets_.find(day);
  if (cached == day_offsets_.end()) {
    // The offsets well before the day's first minute and well after its last: the same, and no
    // change falls in the day.
    const std::int64_t start = day * kMinutesPerDay;
    const int before = OffsetAt(start - kMargin);
    const int after = OffsetAt(start + kMinutesPerDay + kMargin);
    std::optional<int> whole_day;
    if (before == after && OffsetAt(start - before) == before &&
        OffsetAt(start + kMinutesPerDay - 1 - before) == before) {
      whole_day = before;
    }
    cached = day_offsets_.emplace(day, whole_day).first;
  }
  if (cached->second) {
    same_from_ = day * kMinutesPerDay;
    same_offset_ = *cached->second;
    return Moments{Instant{local_minute, *cached->second}, std::nullopt};
  }
  same_from_ = INT64_MIN / 2;
  // A day with a change: each offset that holds at the moment it gives is a moment of the minute.
  const int before = OffsetAt(local_minute - kMargin);
  const int after = OffsetAt(local_minute + kMargin);
  const bool before_holds = OffsetAt(local_minute - before) == before;
  const bool after_holds = after != before && OffsetAt(local_minute - after) == after;
  Instant a{local_minute, before};
  Instant b{local_minute, after};
  if (before_holds && after_holds) {
    if (b.utc() < a.utc()) std::swap(a, b);
    return Moments{a, b};
  }
  if (after_holds) return Moments{b, std::nullopt};
  return Moments{a, std::nullopt};
}

}  // namespace trelvane
