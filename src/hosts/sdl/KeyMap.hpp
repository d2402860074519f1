#pragma once
#include <SDL_keyboard.h>

namespace qr {

// The Windows virtual-key code of an SDL key; 0 for keys the game cannot name.
//
// Letters follow the keyboard layout, as Windows' letter codes do (the key that types "a" is 65
// on any layout). Every other key goes by its position on a US keyboard, so the key right of L
// is 186 whatever it types, digits are 48-57 without Shift, and the keypad keeps its own codes
// (96-111) whether or not Num Lock is on. Left and right modifiers share one code.
int VirtualKeyFor(SDL_Scancode scancode, SDL_Keycode keycode);

// The keys the window keeps for itself and the game never sees: F11 and Alt+Enter (either Enter
// key) switch fullscreen, F12 saves a screenshot.
enum class WindowKey { None, Fullscreen, Screenshot };
WindowKey WindowKeyFor(SDL_Scancode scancode, Uint16 modifiers);

// Both Enter keys.
inline bool IsEnter(SDL_Scancode scancode) {
  return scancode == SDL_SCANCODE_RETURN || scancode == SDL_SCANCODE_KP_ENTER;
}

}  // namespace qr
