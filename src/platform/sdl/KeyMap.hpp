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

}  // namespace qr
