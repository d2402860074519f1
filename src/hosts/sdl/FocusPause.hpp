#pragma once
#include <bitset>
#include <cstdint>

namespace qr {

// With --pause-when-unfocused a lost focus pauses the game instead of ending it. While paused the
// window hands the game nothing, so the game's current sleep does not end: its clock stands still
// and it never learns of the pause. Once the focus is back, the next key or click (or a pad's
// button) goes on; one within kSettleMs of the focus coming back does not count, so that the click
// that brings the window back, or a key still held from switching windows, does not go on before
// the player has seen the banner. Every key pressed while paused, the one that goes on included,
// is kept from the game until it is let go (its repeats too), so none reaches the game as a press.
// Keys are the window system's codes (scancodes); times are milliseconds on the steady clock.
class FocusPause {
 public:
  static constexpr std::int64_t kSettleMs = 250;
  static constexpr int kKeys = 512;

  enum class State : std::uint8_t {
    Playing,
    Away,  // paused, without the focus
    Back,  // paused, the focus back: waiting for a key or a click
  };
  // What becomes of a key-down.
  enum class Key : std::uint8_t {
    Game,  // the game's, as usual
    Kept,  // kept from the game
    GoOn,  // kept from the game, and the game goes on
  };

  State Now() const { return state_; }
  bool Paused() const { return state_ != State::Playing; }

  // The focus is lost for good (FocusGrace decides when): true when the game pauses now.
  bool Lost() {
    const bool pauses = state_ == State::Playing;
    state_ = State::Away;
    return pauses;
  }
  void Gained(std::int64_t nowMs) {
    if (state_ != State::Away) return;
    state_ = State::Back;
    backMs_ = nowMs;
  }
  // A key went down; repeat: the keyboard's own repeat of a key held.
  Key KeyDown(int key, bool repeat, std::int64_t nowMs) {
    const bool known = key >= 0 && key < kKeys;
    if (state_ == State::Playing) {
      if (!known || !kept_[key]) return Key::Game;
      if (repeat) return Key::Kept;
      kept_[key] = false;  // pressed again: its key-up went astray (the focus went meanwhile)
      return Key::Game;
    }
    if (known) kept_[key] = true;
    return !repeat && GoOn(nowMs) ? Key::GoOn : Key::Kept;
  }
  // A key went up: true when its press was kept from the game, and so is this.
  bool KeyUp(int key) {
    if (key < 0 || key >= kKeys || !kept_[key]) return false;
    kept_[key] = false;
    return true;
  }
  // A click or a pad's button: true when the game goes on.
  bool Press(std::int64_t nowMs) { return GoOn(nowMs); }
  // The window is closed: the game must take that at once.
  void Closed() { state_ = State::Playing; }

 private:
  bool GoOn(std::int64_t nowMs) {
    if (state_ != State::Back || nowMs < backMs_ + kSettleMs) return false;
    state_ = State::Playing;
    return true;
  }

  State state_ = State::Playing;
  std::int64_t backMs_ = 0;
  std::bitset<kKeys> kept_;
};

}  // namespace qr
