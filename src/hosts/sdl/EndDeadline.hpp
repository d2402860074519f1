#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace qr {

// Once a signal has asked the program to end, it ends within kEndWithinMs whatever the game
// does: a game thread stuck (say, in a write nobody takes) would otherwise keep the window, and
// the program, alive for good. When the time is up the program says so and ends, exit code 1.
class EndDeadline {
 public:
  static constexpr std::int64_t kEndWithinMs = 3000;

  EndDeadline() = default;
  ~EndDeadline() { Disarm(); }
  EndDeadline(const EndDeadline&) = delete;
  EndDeadline& operator=(const EndDeadline&) = delete;

  // Starts the clock (once).
  void Arm();
  // Everything ended in time.
  void Disarm();

 private:
  void Watch();

  std::mutex mutex_;
  std::condition_variable ended_;
  bool disarmed_ = false;
  std::thread watcher_;
};

}  // namespace qr
