#pragma once

#include "measure/clock.h"

namespace trelvane::testing {

// A clock that shows what the test sets, and may move on by itself at every reading.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(LocalTime start) : now_(start) {}
  LocalTime Now() const override {
    LocalTime shown = now_;
    if (step_seconds_ > 0) Advance(step_seconds_);
    return shown;
  }
  Separators separators() const override { return separators_; }
  void Set(LocalTime t) { now_ = t; }
  void SetSeparators(Separators separators) { separators_ = separators; }
  // Every reading moves the clock on by this many seconds (within the day).
  void StepEachReading(int seconds) { step_seconds_ = seconds; }

 private:
  void Advance(int seconds) const {
    int total = (now_.hour * 60 + now_.minute) * 60 + now_.second + seconds;
    now_.second = total % 60;
    now_.minute = total / 60 % 60;
    now_.hour = total / 3600 % 24;
  }
  mutable LocalTime now_;
  int step_seconds_ = 0;
  Separators separators_;
};

}  // namespace trelvane::testing
