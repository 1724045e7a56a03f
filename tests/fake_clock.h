#pragma once

#include "measure/clock.h"

namespace trelvane::testing {

// A clock that shows what the test sets, and may move on by itself at every reading.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(LocalTime start) : now_(start) {}
  LocalTime Now() const override {
    const LocalTime shown = now_;
    const int seconds = (now_.hour * 60 + now_.minute) * 60 + now_.second + step_seconds_;
    now_.hour = seconds / 3600 % 24;  // within the day
    now_.minute = seconds / 60 % 60;
    now_.second = seconds % 60;
    return shown;
  }
  Separators separators() const override { return separators_; }
  void Set(LocalTime t) { now_ = t; }
  void SetSeparators(Separators separators) { separators_ = separators; }
  // Every reading moves the clock on by this many seconds.
  void StepEachReading(int seconds) { step_seconds_ = seconds; }

 private:
  mutable LocalTime now_;
  int step_seconds_ = 0;
  Separators separators_;
};

}  // namespace trelvane::testing
