#include "hosts/sdl/KeyMap.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The US punctuation keys, which Windows calls the OEM keys, by the character they type.
int OemKeyFor(SDL_Keycode keycode) {
  switch (keycode) {
    case SDLK_SEMICOLON:
      return vk::kSemicolon;
    case SDLK_EQUALS:
      return 187;
    case SDLK_COMMA:
      return 188;
    case SDLK_MINUS:
      return 189;
    case SDLK_PERIOD:
      return 190;
    case SDLK_SLASH:
      return 191;
    case SDLK_BACKQUOTE:
      return 192;
    case SDLK_LEFTBRACKET:
      return 219;
    case SDLK_BACKSLASH:
      return 220;
    case SDLK_RIGHTBRACKET:
      return 221;
    case SDLK_QUOTE:
      return 222;
    default:
      return 0;
  }
}

int ByPosition(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return 97 + (sc - SDL_SCANCODE_KP_1);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return 112 + (sc - SDL_SCANCODE_F1);
  if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return 124 + (sc - SDL_SCANCODE_F13);
  switch (sc) {
    case SDL_SCANCODE_0:
      return '0';
    case SDL_SCANCODE_KP_0:
      return 96;
    case SDL_SCANCODE_BACKSPACE:
      return vk::kBackspace;
    case SDL_SCANCODE_TAB:
      return 9;
    case SDL_SCANCODE_KP_CLEAR:
    case SDL_SCANCODE_CLEAR:
      return 12;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_RETURN2:
    case SDL_SCANCODE_KP_ENTER:
      return vk::kEnter;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
      return vk::kShift;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
      return vk::kControl;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT:
      return vk::kAlt;
    case SDL_SCANCODE_PAUSE:
      return 19;
    case SDL_SCANCODE_CAPSLOCK:
      return 20;
    case SDL_SCANCODE_ESCAPE:
      return vk::kEsc;
    case SDL_SCANCODE_SPACE:
      return vk::kSpace;
    case SDL_SCANCODE_PAGEUP:
      return 33;
    case SDL_SCANCODE_PAGEDOWN:
      return 34;
    case SDL_SCANCODE_END:
      return 35;
    case SDL_SCANCODE_HOME:
      return 36;
    case SDL_SCANCODE_LEFT:
      return vk::kLeft;
    case SDL_SCANCODE_UP:
      return vk::kUp;
    case SDL_SCANCODE_RIGHT:
      return vk::kRight;
    case SDL_SCANCODE_DOWN:
      return vk::kDown;
    case SDL_SCANCODE_PRINTSCREEN:
      return 44;
    case SDL_SCANCODE_INSERT:
      return 45;
    case SDL_SCANCODE_DELETE:
      return 46;
    case SDL_SCANCODE_LGUI:
      return 91;
    case SDL_SCANCODE_RGUI:
      return 92;
    case SDL_SCANCODE_APPLICATION:
      return 93;
    case SDL_SCANCODE_KP_MULTIPLY:
      return 106;
    case SDL_SCANCODE_KP_PLUS:
      return 107;
    case SDL_SCANCODE_KP_COMMA:
      return 108;
    case SDL_SCANCODE_KP_MINUS:
      return 109;
    case SDL_SCANCODE_KP_PERIOD:
    case SDL_SCANCODE_KP_DECIMAL:
      return 110;
    case SDL_SCANCODE_KP_DIVIDE:
      return 111;
    case SDL_SCANCODE_NUMLOCKCLEAR:
      return 144;
    case SDL_SCANCODE_SCROLLLOCK:
      return 145;
    case SDL_SCANCODE_SEMICOLON:
      return vk::kSemicolon;
    case SDL_SCANCODE_EQUALS:
      return 187;
    case SDL_SCANCODE_COMMA:
      return 188;
    case SDL_SCANCODE_MINUS:
      return 189;
    case SDL_SCANCODE_PERIOD:
      return 190;
    case SDL_SCANCODE_SLASH:
      return 191;
    case SDL_SCANCODE_GRAVE:
      return 192;
    case SDL_SCANCODE_LEFTBRACKET:
      return 219;
    case SDL_SCANCODE_BACKSLASH:
      return 220;
    case SDL_SCANCODE_RIGHTBRACKET:
      return 221;
    case SDL_SCANCODE_APOSTROPHE:
      return 222;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return 226;
    default:
      return 0;
  }
}

}  // namespace

int VirtualKeyFor(SDL_Scancode scancode, SDL_Keycode keycode) {
  if (keycode >= SDLK_a && keycode <= SDLK_z) return 'A' + (keycode - SDLK_a);
  // A letter position that types punctuation on this layout (the M key of a French keyboard
  // types a comma) is named by what it types, so it does not pass for a letter key.
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) {
    const int oem = OemKeyFor(keycode);
    if (oem != 0) return oem;
  }
  return ByPosition(scancode);
}

WindowKey WindowKeyFor(SDL_Scancode scancode, Uint16 modifiers) {
  if (scancode == SDL_SCANCODE_F11) return WindowKey::Fullscreen;
  if (scancode == SDL_SCANCODE_F12) return WindowKey::Screenshot;
  if (IsEnter(scancode) && (modifiers & KMOD_ALT) != 0) return WindowKey::Fullscreen;
  return WindowKey::None;
}

}  // namespace qr
