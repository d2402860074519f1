#pragma once
#include <algorithm>
#include <cstdint>

namespace qr {

// Where game time meets the wall clock, for the hosts that show the game to a player: game time
// t is due at the start plus t, so a late wake-up is made good by the next sleeps and the game
// keeps its 100 passes a second. Pacing starts afresh when the machine is more than kRestartMs
// late (a stall, a background tab) or game time jumps by more (a replay leaving its fast part).
//
// Input may end a wait early, but not before `earliest`: the game then takes the input at the
// same game time, only sooner, and never runs more than one pass ahead of the clock.
class Pacer {
 public:
  static constexpr std::int64_t kRestartMs = 100;

  struct Wait {
    std::int64_t dueUs;       // the wall time (µs) at which the game time is due
    std::int64_t earliestUs;  // input ends the wait from here on
  };

  Wait Next(std::int64_t gameMs, std::int64_t nowUs) {
    const std::int64_t step = gameMs - lastGameMs_;
    const std::int64_t due = originUs_ + (gameMs - originGameMs_) * 1000;
    if (!paced_ || step > kRestartMs || step < 0 || nowUs - due > kRestartMs * 1000) {
      paced_ = true;
      originUs_ = nowUs + std::clamp<std::int64_t>(step, 0, kRestartMs) * 1000;
      originGameMs_ = gameMs;
    }
    lastGameMs_ = gameMs;
    const std::int64_t wake = originUs_ + (gameMs - originGameMs_) * 1000;
    return Wait{wake, wake - std::max<std::int64_t>(step, 0) * 1000};
  }

  // The next wait starts the pacing afresh (a new run of the game).
  void Restart() { paced_ = false; }

  // The game was held for heldUs after its last wait: every later time is due that much later
  // (the time held is not made good by shorter sleeps).
  void Held(std::int64_t heldUs) {
    if (paced_ && heldUs > 0) originUs_ += heldUs;
  }

 private:
  bool paced_ = false;
  std::int64_t originUs_ = 0;  // when the game time originGameMs_ is due
  std::int64_t originGameMs_ = 0;
  std::int64_t lastGameMs_ = 0;
};

}  // namespace qr
