#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace trelvane {

// With TRELVANE_BURST_TRACE set, each burst's wall time, from its tick to its measurement, is told
// on stderr (the metrics benchmark reads it).
class BurstTrace {
 public:
  BurstTrace() : on_(std::getenv("TRELVANE_BURST_TRACE") != nullptr) {}
  void Began() { start_ = std::chrono::steady_clock::now(); }
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
