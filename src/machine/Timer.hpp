#pragma once
#include <cstdint>

namespace qr {

// The game's clock in milliseconds: real time for the window, virtual time headless.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t NowMs() const = 0;
};

enum class TimerId : int { Credit = 0, GetReady = 1, Serve = 2 };

// A window timer. Its event runs only inside a hand-over to the window system: at the first
// hand-over at or after its due time, and at most once per hand-over. Setting Enabled or
// Interval re-arms it from that moment.
class Timer {
 public:
  explicit Timer(const Clock& clock) : clock_(clock) {}

  void Enabled(bool on);
  bool Enabled() const { return enabled_; }
  void Interval(std::int32_t ms);
  std::int32_t Interval() const { return interval_; }

  // For the backends: whether the event is due, and when.
  bool Due(std::int64_t now) const { return enabled_ && interval_ > 0 && now >= due_; }
  std::int64_t DueAt() const { return due_; }
  // Called just before the event runs: the next due time follows the timer's own period.
  void Fired(std::int64_t now);

 private:
  void Arm() { due_ = clock_.NowMs() + interval_; }

  const Clock& clock_;
  bool enabled_ = false;
  std::int32_t interval_ = 0;
  std::int64_t due_ = 0;
};

}  // namespace qr
