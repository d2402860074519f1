#include "hosts/shared/TouchControls.hpp"

#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The key a control holds in play; 0 for the controls of the initials entry.
int KeyOf(TouchControls::Control c) {
  using C = TouchControls::Control;
  switch (c) {
    case C::Coin:
      return vk::kQ;
    case C::OnePlayer:
      return vk::k1;
    case C::TwoPlayers:
      return vk::k2;
    case C::Esc:
      return vk::kEsc;
    case C::Up1:
      return vk::kA;
    case C::Down1:
      return vk::kZ;
    case C::Up2:
      return vk::kUp;
    case C::Down2:
      return vk::kDown;
    default:
      return 0;
  }
}

}  // namespace

int TouchControls::Direction() const {
  const bool up = Held(Control::Up1) || Held(Control::Up2);
  const bool down = Held(Control::Down1) || Held(Control::Down2);
  return up == down ? 0 : (up ? -1 : 1);
}

void TouchControls::Set(Control control, bool down, std::int64_t nowMs, std::vector<InputEvent>& out) {
  const auto index = static_cast<std::size_t>(control);
  if (index >= held_.size() || held_[index] == down) return;
  const int before = Direction();
  held_[index] = down;
  if (!entry_) {
    if (const int key = KeyOf(control); key != 0) {
      if (down) {
        keys_.Press(key, HeldKeys::kTouch, out);
      } else {
        keys_.Release(key, HeldKeys::kTouch, out);
      }
    }
    return;
  }
  // Esc keeps its meaning in the entry (it ends the game), as on the keyboard.
  if (control == Control::Esc) {
    if (down) out.push_back(InputEvent{InputEvent::Kind::Tap, vk::kEsc});
    return;
  }
  if (const int after = Direction(); after != 0 && after != before) {
    chooser_.Press(after, nowMs);
    chosen_ = true;
  }
  if (!down) return;
  if (control == Control::Type) out.push_back(InputEvent{InputEvent::Kind::Tap, chooser_.Current()});
  if (control == Control::Delete) out.push_back(InputEvent{InputEvent::Kind::Tap, vk::kBackspace});
  if (control == Control::Ok) out.push_back(InputEvent{InputEvent::Kind::Tap, vk::kEnter});
}

void TouchControls::ReleaseAll(std::vector<InputEvent>& out) {
  held_ = {};
  keys_.ReleaseAll(HeldKeys::kTouch, out);
}

void TouchControls::SetEntry(bool entry, std::vector<InputEvent>& out) {
  if (entry == entry_) return;
  entry_ = entry;
  chosen_ = false;
  chooser_.Reset();
  // Going into the entry what is held goes up; coming out of it, a control still touched (OK,
  // which confirmed) must not start a game: it waits for the finger's next touch.
  keys_.ReleaseAll(HeldKeys::kTouch, out);
  if (!entry) held_ = {};
}

void TouchControls::Tick(std::int64_t nowMs) {
  if (entry_) chooser_.Tick(Direction(), nowMs);
}

}  // namespace qr
