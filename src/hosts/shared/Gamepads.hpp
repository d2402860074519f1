#pragma once
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "machine/Host.hpp"

namespace qr {

// Who holds each key: the keyboard, the two pads and the touch screen. The game sees a key go down when the first
// of them presses it and up when the last one lets go; the keyboard's repeat comes through as
// further key-downs.
class HeldKeys {
 public:
  static constexpr std::uint8_t kKeyboard = 1;
  static constexpr std::uint8_t kPad1 = 2;
  static constexpr std::uint8_t kPad2 = 4;
  static constexpr std::uint8_t kTouch = 8;

  void Press(int vk, std::uint8_t source, std::vector<InputEvent>& out);
  void Release(int vk, std::uint8_t source, std::vector<InputEvent>& out);
  // Every key the source holds goes up (sources 0xFF: every key).
  void ReleaseAll(std::uint8_t sources, std::vector<InputEvent>& out);
  bool HeldBy(int vk, std::uint8_t source) const { return Valid(vk) && (by_[vk] & source) != 0; }

 private:
  static bool Valid(int vk) { return vk > 0 && vk < 256; }
  std::array<std::uint8_t, 256> by_{};
};

// The character that up and down go through while the initials are entered, for a pad or the
// touch screen: a press steps once, and held, the same way steps again after kRepeatDelayMs, then
// every kRepeatMs.
class CharacterChooser {
 public:
  static constexpr std::int64_t kRepeatDelayMs = 400;
  static constexpr std::int64_t kRepeatMs = 120;

  // The characters, in order.
  static const std::string& Characters();

  // Back to the first character; what is held now does not step it until it is pressed again.
  void Reset() {
    character_ = 0;
    repeatAt_ = kNever;
  }
  // Up (-1) or down (1) was pressed: one step now.
  void Press(int direction, std::int64_t nowMs);
  // The way held now (0: none) steps on when its time comes; true when it did.
  bool Tick(int direction, std::int64_t nowMs);
  char Current() const { return Characters()[character_]; }

 private:
  static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
  void Step(int direction);
  std::size_t character_ = 0;
  std::int64_t repeatAt_ = kNever;
};

// The game pads as the game's keys. Player 1's pad gives A and Z for its paddle, Q for Back,
// 1 for Start; player 2's pad Up and Down, Q, and 2. Up and down are the D-pad or the left stick.
//
// While the initials are entered, up and down choose a character instead (held, they go on
// choosing), A types it, B deletes and Start confirms: the entry gets the key codes of the
// character, Backspace and Enter.
//
// Sides: the first pad plays player 1, the second player 2; further pads do nothing while both
// sides are taken. A side remembers its pad's identity (the joystick GUID and, when the pad
// reports one, its serial number), and a pad that leaves keeps its side until it comes back: a
// pad that arrives takes the free side whose pad it is, otherwise a side that no pad has had
// yet, otherwise any free side. Two pads of the same model without a serial number are told
// apart only by the order in which they come back.
class Gamepads {
 public:
  enum class Button : std::uint8_t { Up, Down, A, B, Back, Start };

  // The stick: further from the centre than kPress (of 32767) is a press, back inside kRelease a
  // release; between the two it stays as it was, so a stick resting near the edge never twitches.
  static constexpr int kPress = 16000;
  static constexpr int kRelease = 10000;
  // While entering initials, a held up or down steps again after kRepeatDelayMs, then every
  // kRepeatMs.
  static constexpr std::int64_t kRepeatDelayMs = CharacterChooser::kRepeatDelayMs;
  static constexpr std::int64_t kRepeatMs = CharacterChooser::kRepeatMs;

  explicit Gamepads(HeldKeys& keys) : keys_(keys) {}

  // A pad arrived (instance: its number while it stays); returns its side, 1 or 2, or 0.
  int Attach(int instance, const std::string& identity);
  // The pad left: what it held goes up.
  void Detach(int instance, std::vector<InputEvent>& out);
  void SetButton(int instance, Button button, bool down, std::int64_t nowMs, std::vector<InputEvent>& out);
  // The left stick's vertical axis, -32768 (up) to 32767 (down).
  void SetStick(int instance, int y, std::int64_t nowMs, std::vector<InputEvent>& out);
  // The held up or down steps the character on; called every few milliseconds.
  void Tick(std::int64_t nowMs);

  // The initials entry begins or ends: what the pads hold in play goes up, or comes back.
  void SetEntry(bool entry, std::vector<InputEvent>& out);
  bool Entry() const { return entry_; }
  // The character that A would type, while a pad has been used in this entry; otherwise 0.
  char Preview() const;
  // A key of the keyboard was pressed: the keyboard, not the pad, is in use.
  void KeyboardUsed() { activeSide_ = 0; }

  // The characters that up and down go through, in order.
  static const std::string& Characters() { return CharacterChooser::Characters(); }

 private:
  struct Side {
    int instance = -1;  // -1: no pad on this side now
    std::string identity;
    bool owned = false;  // a pad has had this side
    std::array<bool, 6> buttons{};
    int stick = 0;  // -1 up, 0 resting, 1 down
    CharacterChooser chooser;
  };

  Side* Find(int instance);
  int Direction(const Side& s) const;
  // Holds what the side's state means in play, and lets go of the rest.
  void Sync(int side, std::vector<InputEvent>& out);

  HeldKeys& keys_;
  std::array<Side, 2> sides_{};
  bool entry_ = false;
  int activeSide_ = 0;  // the side whose pad was used last in the entry; 0: none
};

// Draws the character the pad would type over a frame of the game (its palette indices and
// palette), in a dim grey in the cell above the entry's cursor; nothing when no cursor is shown.
// The window and the page draw it over the picture they show, never on the game's surface.
void DrawPadPreview(std::vector<std::uint8_t>& indices, std::array<std::uint32_t, 256>& palette, char c);

}  // namespace qr
