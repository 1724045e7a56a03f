#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace trelvane {

// A moment of a stamp: its local wall-clock minute (minutes since 1970-01-01 00:00, no time zone,
// as MinuteIndex counts) and the UTC offset in force then, in minutes east of UTC.
struct Instant {
  std::int64_t local = 0;
  int offset = 0;
  std::int64_t utc() const { return local - offset; }
  bool operator==(const Instant&) const = default;
};

// "yyyy-mm-ddThh:mm+hh:mm" (ISO 8601 with the offset; "+00:00" for UTC).
std::string IsoMinuteWithOffset(const Instant& instant);

// The machine's time-zone rules (the C library's, TZ honoured) applied to local wall-clock
// minutes. The stamps of the history carry no offset; a minute of the repeated hour of an autumn
// change stands for two moments, a minute of the skipped hour of a spring change for none.
class ZoneRules {
 public:
  // Reads the rules of the environment's TZ as they are now.
  ZoneRules();

  // The moments a local minute can be, earlier first: one for most, two in a repeated hour.
  // In a skipped hour (no file the program writes has one), the offset of before the change.
  struct Moments {
    Instant first;
    std::optional<Instant> second;
  };
  Moments MomentsOf(std::int64_t local_minute) {
    // Most minutes fall in the day of the minute before, and most days have one offset.
    if (static_cast<std::uint64_t>(local_minute - same_from_) < kMinutesPerDay) {
      return Moments{Instant{local_minute, same_offset_}, std::nullopt};
    }
    return MomentsOfAnotherDay(local_minute);
  }

 private:
  static constexpr std::int64_t kMinutesPerDay = 1440;
  Moments MomentsOfAnotherDay(std::int64_t local_minute);
  int OffsetAt(std::int64_t utc_minute) const;

  // Per local day: the one offset of the whole day, when no change falls near it.
  std::unordered_map<std::int64_t, std::optional<int>> day_offsets_;
  // The first minute of the last day looked up when that day has one offset (then its offset);
  // far in the past when it has not, so that no minute falls in it.
  std::int64_t same_from_ = INT64_MIN / 2;
  int same_offset_ = 0;
};

// The platform's part, picked by the build: (re)reads the rules of TZ, and the offset in force at
// a moment, in minutes east of UTC.
void ReadZoneRules();
int UtcOffsetAt(std::int64_t utc_minute);

// Turns the local minutes of one run into moments, one after another: a minute of a repeated hour
// is its first moment unless that would go back before the run's previous measurement. Reset at
// each run's start.
class RunClock {
 public:
  explicit RunClock(ZoneRules& rules) : rules_(rules) {}
  void Reset() { previous_utc_ = INT64_MIN; }
  Instant Resolve(std::int64_t local_minute) {
    const ZoneRules::Moments moments = rules_.MomentsOf(local_minute);
    Instant chosen = moments.first;
    if (moments.second && chosen.utc() < previous_utc_) chosen = *moments.second;
    previous_utc_ = chosen.utc();
    return chosen;
  }

 private:
  ZoneRules& rules_;
  std::int64_t previous_utc_ = INT64_MIN;  // the run's previous measurement; none yet
};

}  // namespace trelvane
