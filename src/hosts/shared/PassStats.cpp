#include "hosts/shared/PassStats.hpp"

#include <algorithm>
#include <cstdio>

namespace qr {

void PassStats::Pass(LoopId id, std::int64_t nowMs) {
  const int i = static_cast<int>(id);
  Loop& loop = loops_[i];
  ++loop.passes;
  if (last_ == i) {
    // The previous pass of this loop has ended: a plain pass slept exactly once.
    if (sleeps_ == 1) {
      ++loop.timedPasses;
      loop.ms += nowMs - lastMs_;
    } else if (sleeps_ > 1) {
      ++loop.longPasses;
    }
  }
  last_ = i;
  lastMs_ = nowMs;
  sleeps_ = 0;
}

std::string PassStats::Report() const {
  static const char* const kNames[4] = {"MainLoop", "DemoLoop", "StartPrompt", "GetInitials"};
  std::string out;
  for (int i = 0; i < 4; ++i) {
    const Loop& l = loops_[i];
    char line[200];
    std::snprintf(line, sizeof line, "%s: %lld passes, %.1f passes/s over %.2f s", kNames[i],
                  static_cast<long long>(l.passes), l.PerSecond(), static_cast<double>(l.ms) / 1000.0);
    out += line;
    if (l.longPasses > 0) {
      std::snprintf(line, sizeof line, " (%lld %s that waited inside left out)", static_cast<long long>(l.longPasses),
                    l.longPasses == 1 ? "pass" : "passes");
      out += line;
    }
    out += '\n';
  }
  return out;
}

// Nearest-rank percentiles: the value at or below which p per cent of the events lie.
std::string LatencyReport(std::vector<std::int64_t> us) {
  if (us.empty()) return "Input latency: no events\n";
  std::sort(us.begin(), us.end());
  auto rank = [&](std::size_t percent) {
    const std::size_t k = (us.size() * percent + 99) / 100;
    return static_cast<double>(us[std::max<std::size_t>(k, 1) - 1]) / 1000.0;
  };
  char line[200];
  std::snprintf(line, sizeof line,
                "Input latency: %zu events, median %.1f ms, 99th percentile %.1f ms, maximum %.1f ms\n", us.size(),
                rank(50), rank(99), static_cast<double>(us.back()) / 1000.0);
  return line;
}

}  // namespace qr
