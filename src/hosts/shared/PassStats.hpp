#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "machine/Machine.hpp"

namespace qr {

// The cadence of the game's loops: how many passes each made, and how many it makes per second
// while it runs.
//
// A loop is entered many times (the rally loop once per game), so its time is the time between
// one counted pass and the next pass of the same loop, summed over all its runs; the gaps while
// another loop runs are not its time. A pass that waits inside itself (the bonus display of a
// one-player game, the instructions shown from the attract loop) sleeps more than once; such a
// pass is counted but its time is left out of the rate, which is the loop's own pace.
class PassStats {
 public:
  // A pass of the loop begins at nowMs.
  void Pass(LoopId id, std::int64_t nowMs);
  // The loop slept once.
  void Slept() { ++sleeps_; }

  struct Loop {
    std::int64_t passes = 0;
    std::int64_t timedPasses = 0;  // passes whose time went into the rate
    std::int64_t ms = 0;           // their time
    std::int64_t longPasses = 0;   // passes that waited inside and were left out
    double PerSecond() const {
      return ms > 0 ? 1000.0 * static_cast<double>(timedPasses) / static_cast<double>(ms) : 0;
    }
  };
  const Loop& Of(LoopId id) const { return loops_[static_cast<int>(id)]; }

  // One line per loop, e.g. "MainLoop: 2000 passes, 99.8 passes/s over 20.04 s".
  std::string Report() const;

 private:
  std::array<Loop, 4> loops_{};
  int last_ = -1;
  std::int64_t lastMs_ = 0;
  std::int64_t sleeps_ = 0;
};

// "Input latency: 812 events, median 6.1 ms, 99th percentile 14.0 ms, maximum 19.2 ms" over the
// latencies in microseconds.
std::string LatencyReport(std::vector<std::int64_t> us);

}  // namespace qr
