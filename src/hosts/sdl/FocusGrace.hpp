#pragma once
#include <cstdint>

namespace qr {

// When losing the window's focus ends the game. Switching to and from fullscreen, and the
// start-up pointer move, may take the focus away for a moment: a loss within the grace that
// follows them counts only if the focus has not come back when the grace is over. A window
// that never had the focus loses nothing. Times are milliseconds on the steady clock.
class FocusGrace {
 public:
  static constexpr std::int64_t kGraceMs = 1000;

  enum class Loss : std::uint8_t {
    None,     // nothing was lost (the window never had the focus)
    Pending,  // within the grace: decided by Due
    Now,      // the game ends on it
  };

  // Something that may take the focus away for a moment happens now.
  void StartGrace(std::int64_t nowMs) { graceUntil_ = nowMs + kGraceMs; }
  void Gained() {
    hadFocus_ = true;
    pending_ = false;
  }
  Loss Lost(std::int64_t nowMs) {
    if (!hadFocus_) return Loss::None;
    if (nowMs < graceUntil_) {
      pending_ = true;
      return Loss::Pending;
    }
    return Loss::Now;
  }
  // A loss is waiting for the grace to end: the window's wait for events ends no later than then.
  bool Pending() const { return pending_; }
  std::int64_t GraceUntil() const { return graceUntil_; }
  // True once, when the grace of a waiting loss is over: the loss counts if the window still
  // has no focus.
  bool Due(std::int64_t nowMs) {
    if (!pending_ || nowMs < graceUntil_) return false;
    pending_ = false;
    return true;
  }

 private:
  std::int64_t graceUntil_ = 0;
  bool hadFocus_ = false;
  bool pending_ = false;
};

}  // namespace qr
