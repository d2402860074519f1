#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "hosts/shared/Gamepads.hpp"
#include "machine/Host.hpp"

namespace qr {

// The touch screen's controls as the game's keys: each control holds its key while a finger is
// on it, so a finger kept on Up is a held key and two fingers on two controls hold two keys.
// Coin gives Q, 1 Player and 2 Players give 1 and 2, Esc gives Esc; player 1's Up and Down give
// A and Z, player 2's Up and Down the arrow keys.
//
// While the initials are entered, Up and Down (either player's) choose a character as a pad's
// do (see CharacterChooser), Type types it, Delete gives Backspace and OK gives Enter; Coin and
// the start controls do nothing then, since their keys would type characters.
class TouchControls {
 public:
  // The numbers the page passes for its controls (web/rall.js names them the same).
  enum class Control : std::uint8_t { Coin, OnePlayer, TwoPlayers, Esc, Up1, Down1, Up2, Down2, Type, Delete, Ok };
  static constexpr int kCount = 11;

  explicit TouchControls(HeldKeys& keys) : keys_(keys) {}

  // A finger came onto the control (down) or left it.
  void Set(Control control, bool down, std::int64_t nowMs, std::vector<InputEvent>& out);
  // Every finger is gone (the page no longer hears them).
  void ReleaseAll(std::vector<InputEvent>& out);

  // The initials entry begins or ends: what the controls hold in play goes up, or waits for its
  // next touch.
  void SetEntry(bool entry, std::vector<InputEvent>& out);
  bool Entry() const { return entry_; }
  // A held Up or Down steps the character on; called every few milliseconds.
  void Tick(std::int64_t nowMs);
  // The character Type would type, once Up or Down was touched in this entry; otherwise 0.
  char Preview() const { return entry_ && chosen_ ? chooser_.Current() : 0; }
  // A key of the keyboard was pressed: the keyboard types, no preview.
  void KeyboardUsed() { chosen_ = false; }

 private:
  bool Held(Control c) const { return held_[static_cast<std::size_t>(c)]; }
  // -1 up, 1 down, 0 neither or both.
  int Direction() const;

  HeldKeys& keys_;
  std::array<bool, kCount> held_{};
  bool entry_ = false;
  bool chosen_ = false;  // Up or Down was touched in this entry
  CharacterChooser chooser_;
};

}  // namespace qr
