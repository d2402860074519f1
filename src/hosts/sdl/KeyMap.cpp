#include "hosts/sdl/KeyMap.hpp"
#include "hosts/shared/HostKeys.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The US punctuation keys, which Windows calls the OEM keys, by the character they type.
int OemKeyFor(SDL_Keycode keycode) {
  switch (keycode) {
    case SDLK_SEMICOLON:
      return vk::kSemicolon;
    case SDLK_EQUALS:
      return vk::kEquals;
    case SDLK_COMMA:
      return vk::kComma;
    case SDLK_MINUS:
      return vk::kMinus;
    case SDLK_PERIOD:
      return vk::kPeriod;
    case SDLK_SLASH:
      return vk::kSlash;
    case SDLK_BACKQUOTE:
      return vk::kBackquote;
    case SDLK_LEFTBRACKET:
      return vk::kLeftBracket;
    case SDLK_BACKSLASH:
      return vk::kBackslash;
    case SDLK_RIGHTBRACKET:
      return vk::kRightBracket;
    case SDLK_QUOTE:
      return vk::kQuote;
    default:
      return 0;
  }
}

int ByPosition(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return vk::kA + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return vk::k1 + (sc - SDL_SCANCODE_1);
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return vk::kNumpad1 + (sc - SDL_SCANCODE_KP_1);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return vk::kF1 + (sc - SDL_SCANCODE_F1);
  if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return vk::kF13 + (sc - SDL_SCANCODE_F13);
  switch (sc) {
    case SDL_SCANCODE_0:
      return vk::k0;
    case SDL_SCANCODE_KP_0:
      return vk::kNumpad0;
    case SDL_SCANCODE_BACKSPACE:
      return vk::kBackspace;
    case SDL_SCANCODE_TAB:
      return vk::kTab;
    case SDL_SCANCODE_KP_CLEAR:
    case SDL_SCANCODE_CLEAR:
      return vk::kClear;
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
      return vk::kPause;
    case SDL_SCANCODE_CAPSLOCK:
      return vk::kCapsLock;
    case SDL_SCANCODE_ESCAPE:
      return vk::kEsc;
    case SDL_SCANCODE_SPACE:
      return vk::kSpace;
    case SDL_SCANCODE_PAGEUP:
      return vk::kPageUp;
    case SDL_SCANCODE_PAGEDOWN:
      return vk::kPageDown;
    case SDL_SCANCODE_END:
      return vk::kEnd;
    case SDL_SCANCODE_HOME:
      return vk::kHome;
    case SDL_SCANCODE_LEFT:
      return vk::kLeft;
    case SDL_SCANCODE_UP:
      return vk::kUp;
    case SDL_SCANCODE_RIGHT:
      return vk::kRight;
    case SDL_SCANCODE_DOWN:
      return vk::kDown;
    case SDL_SCANCODE_PRINTSCREEN:
      return vk::kPrintScreen;
    case SDL_SCANCODE_INSERT:
      return vk::kInsert;
    case SDL_SCANCODE_DELETE:
      return vk::kDelete;
    case SDL_SCANCODE_LGUI:
      return vk::kLeftWindows;
    case SDL_SCANCODE_RGUI:
      return vk::kRightWindows;
    case SDL_SCANCODE_APPLICATION:
      return vk::kMenu;
    case SDL_SCANCODE_KP_MULTIPLY:
      return vk::kNumpadMultiply;
    case SDL_SCANCODE_KP_PLUS:
      return vk::kNumpadAdd;
    case SDL_SCANCODE_KP_COMMA:
      return vk::kNumpadSeparator;
    case SDL_SCANCODE_KP_MINUS:
      return vk::kNumpadSubtract;
    case SDL_SCANCODE_KP_PERIOD:
    case SDL_SCANCODE_KP_DECIMAL:
      return vk::kNumpadDecimal;
    case SDL_SCANCODE_KP_DIVIDE:
      return vk::kNumpadDivide;
    case SDL_SCANCODE_NUMLOCKCLEAR:
      return vk::kNumLock;
    case SDL_SCANCODE_SCROLLLOCK:
      return vk::kScrollLock;
    case SDL_SCANCODE_SEMICOLON:
      return vk::kSemicolon;
    case SDL_SCANCODE_EQUALS:
      return vk::kEquals;
    case SDL_SCANCODE_COMMA:
      return vk::kComma;
    case SDL_SCANCODE_MINUS:
      return vk::kMinus;
    case SDL_SCANCODE_PERIOD:
      return vk::kPeriod;
    case SDL_SCANCODE_SLASH:
      return vk::kSlash;
    case SDL_SCANCODE_GRAVE:
      return vk::kBackquote;
    case SDL_SCANCODE_LEFTBRACKET:
      return vk::kLeftBracket;
    case SDL_SCANCODE_BACKSLASH:
      return vk::kBackslash;
    case SDL_SCANCODE_RIGHTBRACKET:
      return vk::kRightBracket;
    case SDL_SCANCODE_APOSTROPHE:
      return vk::kQuote;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return vk::kNonUsBackslash;
    default:
      return 0;
  }
}

}  // namespace

int VirtualKeyFor(SDL_Scancode scancode, SDL_Keycode keycode) {
  if (keycode >= SDLK_a && keycode <= SDLK_z) return vk::kA + (keycode - SDLK_a);
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
