#pragma once

#include <QTimer>

namespace trelvane {

// The kernel lets a wait of a minute end up to a thousandth late (60 ms; five times that for a
// process of low priority), so a minute's tick would come late by as much. After the timer starts
// or ticks, this wakes the loop at nine tenths of what is left, again and again, so that the wait
// that ends at the tick is a few milliseconds long and keeps to the millisecond. Four wake-ups a
// minute; none when the timer is stopped.
inline void KeepOnTime(QTimer& timer) {
  const int remaining = timer.remainingTime();
  if (!timer.isActive() || remaining < 20) return;
  QTimer::singleShot(remaining - remaining / 10, Qt::PreciseTimer, &timer,
                     [&timer] { KeepOnTime(timer); });
}

}  // namespace trelvane
