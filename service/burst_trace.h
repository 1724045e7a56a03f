#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace trelvane {

// With TRELVANE_BURST_TRACE set, when each burst begins (seconds of the steady clock) and its wall
// time, from its tick to its measurement, are told on stderr (the benchmarks and the trace lab
// read them).
class BurstTrace {
 public:
  BurstTrace() : on_(std::getenv("TRELVANE_BURST_TRACE") != nullptr) {}
  void Began() {
    start_ = std::chrono::steady_clock::now();
    if (!on_) return;
    const std::chrono::duration<double> since = start_.time_since_epoch();
    std::fprintf(stderr, "trelvane: burst began: %.3f s\n", since.count());
  }
  void Ended() const {
    if (!on_) return;
    const std::chrono::duration<double, std::milli> wall =
        std::chrono::steady_clock::now() - start_;
    std::fprintf(stderr, "trelvane: burst: %.1f ms\n", wall.count());
  }

 private:
  bool on_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace trelvane
