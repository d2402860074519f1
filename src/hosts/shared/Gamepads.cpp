#include "hosts/shared/Gamepads.hpp"

#include <algorithm>

#include "machine/Font.hpp"
#include "machine/Surface.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

void HeldKeys::Press(int vk, std::uint8_t source, std::vector<InputEvent>& out) {
  if (!Valid(vk)) return;
  // A second source on a held key is no new key-down; the keyboard's own repeat is one.
  if (by_[vk] == 0 || source == kKeyboard) out.push_back(InputEvent{InputEvent::Kind::Down, vk});
  by_[vk] = static_cast<std::uint8_t>(by_[vk] | source);
}

void HeldKeys::Release(int vk, std::uint8_t source, std::vector<InputEvent>& out) {
  if (!Valid(vk) || (by_[vk] & source) == 0) return;
  by_[vk] = static_cast<std::uint8_t>(by_[vk] & ~source);
  if (by_[vk] == 0) out.push_back(InputEvent{InputEvent::Kind::Up, vk});
}

void HeldKeys::ReleaseAll(std::uint8_t sources, std::vector<InputEvent>& out) {
  for (int vk = 1; vk < 256; ++vk) Release(vk, sources, out);
}

namespace {

constexpr std::size_t Index(Gamepads::Button b) { return static_cast<std::size_t>(b); }
std::uint8_t SourceOf(int side) { return side == 1 ? HeldKeys::kPad1 : HeldKeys::kPad2; }

}  // namespace

const std::string& CharacterChooser::Characters() {
  static const std::string kCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .";
  return kCharacters;
}

void CharacterChooser::Step(int direction) {
  const std::size_t n = Characters().size();
  character_ = (character_ + (direction > 0 ? 1 : n - 1)) % n;
}

void CharacterChooser::Press(int direction, std::int64_t nowMs) {
  Step(direction);
  repeatAt_ = nowMs + kRepeatDelayMs;
}

bool CharacterChooser::Tick(int direction, std::int64_t nowMs) {
  if (direction == 0 || nowMs < repeatAt_) return false;
  Step(direction);
  repeatAt_ = nowMs + kRepeatMs;
  return true;
}

Gamepads::Side* Gamepads::Find(int instance) {
  for (Side& s : sides_) {
    if (s.instance == instance) return &s;
  }
  return nullptr;
}

int Gamepads::Attach(int instance, const std::string& identity) {
  for (std::size_t i = 0; i < 2; ++i) {
    if (sides_[i].instance == instance) return static_cast<int>(i) + 1;
  }
  auto take = [&](auto fits) {
    for (std::size_t i = 0; i < 2; ++i) {
      Side& s = sides_[i];
      if (s.instance != -1 || !fits(s)) continue;
      s = Side{};
      s.instance = instance;
      s.identity = identity;
      s.owned = true;
      return static_cast<int>(i) + 1;
    }
    return 0;
  };
  int side = take([&](const Side& s) { return s.owned && s.identity == identity; });
  if (side == 0) side = take([](const Side& s) { return !s.owned; });
  if (side == 0) side = take([](const Side&) { return true; });
  return side;
}

void Gamepads::Detach(int instance, std::vector<InputEvent>& out) {
  Side* s = Find(instance);
  if (s == nullptr) return;
  s->instance = -1;
  s->buttons = {};
  s->stick = 0;
  const int side = s == &sides_[0] ? 1 : 2;
  keys_.ReleaseAll(SourceOf(side), out);
  if (activeSide_ == side) activeSide_ = 0;
}

int Gamepads::Direction(const Side& s) const {
  const bool up = s.buttons[Index(Button::Up)] || s.stick < 0;
  const bool down = s.buttons[Index(Button::Down)] || s.stick > 0;
  return up == down ? 0 : (up ? -1 : 1);
}

void Gamepads::Sync(int side, std::vector<InputEvent>& out) {
  const Side& s = sides_[static_cast<std::size_t>(side - 1)];
  const bool play = !entry_ && s.instance != -1;
  const std::uint8_t source = SourceOf(side);
  auto hold = [&](int vk, bool on) {
    if (on) {
      if (!keys_.HeldBy(vk, source)) keys_.Press(vk, source, out);
    } else {
      keys_.Release(vk, source, out);
    }
  };
  hold(side == 1 ? vk::kA : vk::kUp, play && (s.buttons[Index(Button::Up)] || s.stick < 0));
  hold(side == 1 ? vk::kZ : vk::kDown, play && (s.buttons[Index(Button::Down)] || s.stick > 0));
  hold(vk::kQ, play && s.buttons[Index(Button::Back)]);
  hold(side == 1 ? vk::k1 : vk::k2, play && s.buttons[Index(Button::Start)]);
}

void Gamepads::SetButton(int instance, Button button, bool down, std::int64_t nowMs, std::vector<InputEvent>& out) {
  Side* s = Find(instance);
  if (s == nullptr || s->buttons[Index(button)] == down) return;
  const int side = s == &sides_[0] ? 1 : 2;
  const int before = Direction(*s);
  s->buttons[Index(button)] = down;
  if (!entry_) {
    Sync(side, out);
    return;
  }
  const int after = Direction(*s);
  if (after != 0 && after != before) {
    s->chooser.Press(after, nowMs);
    activeSide_ = side;
  }
  if (!down) return;
  auto tap = [&](int vk) {
    activeSide_ = side;
    out.push_back(InputEvent{InputEvent::Kind::Tap, vk});
  };
  if (button == Button::A) tap(static_cast<unsigned char>(s->chooser.Current()));
  if (button == Button::B) tap(vk::kBackspace);
  if (button == Button::Start) tap(vk::kEnter);
}

void Gamepads::SetStick(int instance, int y, std::int64_t nowMs, std::vector<InputEvent>& out) {
  Side* s = Find(instance);
  if (s == nullptr) return;
  int stick = s->stick;
  if (y <= -kPress) {
    stick = -1;
  } else if (y >= kPress) {
    stick = 1;
  } else if ((stick < 0 && y > -kRelease) || (stick > 0 && y < kRelease)) {
    stick = 0;
  }
  if (stick == s->stick) return;
  const int before = Direction(*s);
  s->stick = stick;
  if (!entry_) {
    Sync(s == &sides_[0] ? 1 : 2, out);
    return;
  }
  const int after = Direction(*s);
  if (after != 0 && after != before) {
    s->chooser.Press(after, nowMs);
    activeSide_ = s == &sides_[0] ? 1 : 2;
  }
}

void Gamepads::Tick(std::int64_t nowMs) {
  if (!entry_) return;
  for (Side& s : sides_) {
    if (s.chooser.Tick(s.instance == -1 ? 0 : Direction(s), nowMs)) activeSide_ = &s == &sides_[0] ? 1 : 2;
  }
}

void Gamepads::SetEntry(bool entry, std::vector<InputEvent>& out) {
  if (entry == entry_) return;
  entry_ = entry;
  activeSide_ = 0;
  // What is held as the entry begins does not step the character at once.
  for (Side& s : sides_) s.chooser.Reset();
  // Going into the entry, what the pads hold goes up; coming out of it, a button still held
  // from the entry (Start, which confirmed) must not start a game: it waits for its next press.
  if (entry) {
    keys_.ReleaseAll(HeldKeys::kPad1 | HeldKeys::kPad2, out);
  } else {
    for (Side& s : sides_) {
      s.buttons = {};
      s.stick = 0;
    }
  }
}

char Gamepads::Preview() const {
  if (!entry_ || activeSide_ == 0) return 0;
  return sides_[static_cast<std::size_t>(activeSide_ - 1)].chooser.Current();
}

namespace {

// The pixels of a character printed at the top left of a kGlyphBox square, in the game's font.
constexpr int kGlyphBox = 16;
const std::vector<bool>& GlyphMask(char c) {
  thread_local std::array<std::vector<bool>, 256> glyphs;
  auto& mask = glyphs[static_cast<unsigned char>(c)];
  if (!mask.empty()) return mask;
  Font font(10, 96);
  Surface surface(font);
  surface.Cls();
  const std::vector<std::uint8_t> blank = surface.Indices();
  surface.ForeColor(0xC0C0C0);
  surface.Print(std::string(1, c));
  mask.assign(kGlyphBox * kGlyphBox, false);
  for (int y = 0; y < kGlyphBox; ++y) {
    for (int x = 0; x < kGlyphBox; ++x) {
      const auto p = static_cast<std::size_t>(y * Surface::kWidth + x);
      mask[static_cast<std::size_t>(y * kGlyphBox + x)] = surface.Indices()[p] != blank[p];
    }
  }
  return mask;
}

}  // namespace

// The entry's cursor is the thick line it draws at y = 155 under the next character cell.
void DrawPadPreview(std::vector<std::uint8_t>& indices, std::array<std::uint32_t, 256>& palette, char c) {
  constexpr int kCursorY = 155;
  constexpr std::uint32_t kSilver = 0xC0C0C0;
  if (indices.size() != static_cast<std::size_t>(Surface::kWidth * Surface::kHeight)) return;
  auto at = [&](int x, int y) {
    return palette[indices[static_cast<std::size_t>(y * Surface::kWidth + x)]] & 0xFFFFFF;
  };
  int cell = -1;
  for (int i = 0; i < 3 && cell < 0; ++i) {
    const int x0 = 135 + 15 * i;
    bool line = true;
    for (int y = kCursorY - 1; y <= kCursorY + 1 && line; ++y) {
      for (int x = x0; x <= x0 + 10 && line; ++x) line = at(x, y) == kSilver;
    }
    if (line) cell = x0;
  }
  if (cell < 0) return;
  const std::vector<bool>& mask = GlyphMask(c);
  // A colour for the preview: a palette entry the frame does not use.
  std::array<bool, 256> used{};
  for (const std::uint8_t i : indices) used[i] = true;
  const auto spare = std::find(used.rbegin(), used.rend(), false);
  if (spare == used.rend()) return;
  const auto index = static_cast<std::uint8_t>(used.rend() - spare - 1);
  palette[index] = 0x606060;
  for (std::size_t p = 0; p < mask.size(); ++p) {
    if (!mask[p]) continue;
    const int x = cell + static_cast<int>(p % kGlyphBox);
    const int y = 135 + static_cast<int>(p / kGlyphBox);
    if (x < Surface::kWidth && y < Surface::kHeight) indices[static_cast<std::size_t>(y * Surface::kWidth + x)] = index;
  }
}

}  // namespace qr
