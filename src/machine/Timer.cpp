#include "machine/Timer.hpp"

namespace qr {

void Timer::Enabled(bool on) {
  enabled_ = on;
  if (on) Arm();
}

void Timer::Interval(std::int32_t ms) {
  interval_ = ms < 0 ? 0 : ms;
  if (enabled_) Arm();
}

void Timer::Fired(std::int64_t now) {
  if (interval_ <= 0) return;
  // Ticks missed while nobody handed over are not made up: one event, then the next period.
  if (due_ <= now) due_ += ((now - due_) / interval_ + 1) * interval_;
}

}  // namespace qr
