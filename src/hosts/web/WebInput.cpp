// The web host's input: the browser's key, focus and visibility events, and the game pads read
// through the Gamepad API (see WebHost.hpp).
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "hosts/shared/HostKeys.hpp"
#include "hosts/web/WebHost.hpp"
#include "machine/VirtualKeys.hpp"

// clang-format off
EM_JS(void, qr_message, (const char* text), { QR.fail(UTF8ToString(text)); });
EM_JS(void, qr_wake, (), { QR.wake(); });
EM_JS(int, qr_pauses, (), { return QR.pausesOnBlur() ? 1 : 0; });
EM_JS(void, qr_paused, (), { QR.paused(); });
EM_JS(void, qr_fullscreen, (), { QR.toggleFullscreen(); });
EM_JS(void, qr_screenshot, (), { QR.screenshot(); });
// The pads are read every few milliseconds (qr_pad_timer) while one plays.
EM_JS(void, qr_pad_timer_on, (void* host, double ms, int on), {
  QR.padTimer(on !== 0 ? function () { _qr_pad_timer(host); } : null, ms);
});
EM_JS(int, qr_pads_allowed, (), {
  try {
    if (navigator.getGamepads) navigator.getGamepads();
    return 1;
  } catch (e) {
    return 0;
  }
});
// clang-format on

namespace qr {

namespace {

// The keys whose default action (scrolling, going back, the browser's find) the page stops:
// Backspace, Tab, Enter, Esc, Space, the page and arrow keys, digits, letters, punctuation, F11
// and F12.
bool IsPageKey(int key) {
  return key == vk::kBackspace || key == vk::kTab || key == vk::kEnter || key == vk::kEsc || key == vk::kSpace ||
         (key >= vk::kPageUp && key <= vk::kDown) || (key >= vk::k0 && key <= vk::k9) ||
         (key >= vk::kA && key <= vk::kZ) || (key >= vk::kSemicolon && key <= vk::kQuote) || key == vk::kF11 ||
         key == vk::kF12;
}

// Firefox's own key codes of three punctuation keys.
constexpr int kFirefoxSemicolon = 59;
constexpr int kFirefoxEquals = 61;
constexpr int kFirefoxMinus = 173;
// The browser's key codes run from 1 to 255.
constexpr int kLastKeyCode = 255;

// An event's time stamp on the page's clock. A browser that gives none, or one that is not of the
// last second (a pad that comes back with a button held carries the time of its last change),
// gets the present.
double Stamp(double timestamp) {
  const double now = emscripten_get_now();
  return timestamp > 0 && timestamp <= now && now - timestamp < 1000 ? timestamp : now;
}

EM_BOOL OnKeyDown(int /*type*/, const EmscriptenKeyboardEvent* e, void* host) {
  return static_cast<WebHost*>(host)->KeyDown(static_cast<int>(e->keyCode), e->repeat != 0,
                                              e->ctrlKey != 0 || e->altKey != 0 || e->metaKey != 0,
                                              Stamp(e->timestamp));
}

EM_BOOL OnKeyUp(int /*type*/, const EmscriptenKeyboardEvent* e, void* host) {
  return static_cast<WebHost*>(host)->KeyUp(static_cast<int>(e->keyCode), Stamp(e->timestamp));
}

// The buttons of the standard mapping that play.
constexpr std::array<std::pair<int, Gamepads::Button>, 6> kPadButtons{{
    {12, Gamepads::Button::Up},
    {13, Gamepads::Button::Down},
    {0, Gamepads::Button::A},
    {1, Gamepads::Button::B},
    {8, Gamepads::Button::Back},
    {9, Gamepads::Button::Start},
}};

// The host that the page's touch controls and its resume reach (see qr_touch, qr_resume).
WebHost* listening = nullptr;

EM_BOOL OnBlur(int /*type*/, const EmscriptenFocusEvent* /*e*/, void* host) {
  static_cast<WebHost*>(host)->FocusLost();
  return 0;
}

EM_BOOL OnVisibility(int /*type*/, const EmscriptenVisibilityChangeEvent* e, void* host) {
  if (e->hidden != 0) static_cast<WebHost*>(host)->FocusLost();
  return 0;
}

}  // namespace

int VirtualKeyForDom(int keyCode) {
  switch (keyCode) {
    case kFirefoxSemicolon:
      return vk::kSemicolon;
    case kFirefoxEquals:
      return vk::kEquals;
    case kFirefoxMinus:
      return vk::kMinus;
    default:
      return keyCode >= 1 && keyCode <= kLastKeyCode ? keyCode : 0;
  }
}

void WebHost::Listen() {
  listening = this;
  const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  emscripten_set_keydown_callback(window, this, 1, OnKeyDown);
  emscripten_set_keyup_callback(window, this, 1, OnKeyUp);
  emscripten_set_blur_callback(window, this, 1, OnBlur);
  emscripten_set_visibilitychange_callback(this, 1, OnVisibility);
  // A page embedded without leave to use game pads gets an exception from the browser instead.
  if (options_.pads && qr_pads_allowed() == 0) {
    options_.pads = false;
    qr_message("This page may not use game pads here: the keyboard plays.");
  }
}

void WebHost::StopListening() {
  if (listening == this) listening = nullptr;
  if (padTimerOn_) qr_pad_timer_on(this, kPadPollMs, 0);
  const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  emscripten_set_keydown_callback(window, nullptr, 1, nullptr);
  emscripten_set_keyup_callback(window, nullptr, 1, nullptr);
  emscripten_set_blur_callback(window, nullptr, 1, nullptr);
  emscripten_set_visibilitychange_callback(nullptr, 1, nullptr);
}

// The pads have no events: while one plays they are read every few milliseconds as the game
// waits (the browser runs the timer only then), so a press ends the wait as a key's does.
void WebHost::OnPadTimer(void* host) {
  auto* self = static_cast<WebHost*>(host);
  if (self->PollPads() && self->waitingForKey_) self->keyPressed_ = true;
}

// F11 switches fullscreen and F12 saves a screenshot; the game sees neither. Keys with Ctrl,
// Alt or the system key still reach the game, and keep their meaning in the browser.
bool WebHost::KeyDown(int keyCode, bool repeat, bool modifier, double stamp) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == vk::kF11 || vk == vk::kF12) {
    if (!repeat) {
      if (vk == vk::kF11) {
        qr_fullscreen();
      } else {
        qr_screenshot();
      }
    }
    return true;
  }
  if (vk == 0) return false;
  if (waitingForKey_) {
    keyPressed_ = !modifier;
    return IsPageKey(vk) && !modifier;
  }
  pads_.KeyboardUsed();
  touch_.KeyboardUsed();
  if (keys_.KeyDown(vk, repeat, stamp)) qr_wake();  // auto-repeat comes as further key-downs, unstamped
  return IsPageKey(vk) && !modifier;
}

bool WebHost::KeyUp(int keyCode, double stamp) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == 0 || !keys_.Held().HeldBy(vk, HeldKeys::kKeyboard)) return false;
  if (keys_.KeyUp(vk, stamp)) qr_wake();
  return IsPageKey(vk);
}

// One loss ends the run; every key held goes up, since the page no longer hears them. Where the
// page pauses instead, the game's sleep goes on until the player comes back (see Pace).
void WebHost::FocusLost() {
  if (waitingForKey_) {
    keys_.ReleaseAll();
    return;
  }
  if (qr_pauses() != 0 && !options_.fast && !keys_.Ended()) {
    if (!paused_) qr_paused();
    paused_ = true;
    return;
  }
  keys_.EndOnce(InputEvent::Kind::FocusLost);
}

void WebHost::Resume() {
  if (!paused_) return;
  paused_ = false;
  qr_wake();
}

void WebHost::Touch(int control, bool down, double stamp) {
  if (paused_) return;
  if (waitingForKey_) {
    keyPressed_ = keyPressed_ || down;
    return;
  }
  if (control < 0 || control >= TouchControls::kCount) return;
  pads_.KeyboardUsed();
  touch_.Set(static_cast<TouchControls::Control>(control), down, static_cast<std::int64_t>(emscripten_get_now()),
             scratch_);
  if (keys_.Add(scratch_, Stamp(stamp))) qr_wake();
}

// The page closes the run, as a closed window closes the game (a replay ends so too).
void WebHost::EndRun() {
  if (keys_.Ended()) return;
  keys_.EndOnce(InputEvent::Kind::Close);
}

// A pad is known by its place in the browser's list and its name; a pad that leaves frees its
// place, and one that comes (back) at any place gets its side again (see Gamepads). Only pads with
// the standard mapping play: on the others the buttons mean something else.
bool WebHost::PollPads() {
  if (!options_.pads) return false;
  const bool entry = textEntry_ && !waitingForKey_;
  if (entry != pads_.Entry()) {
    pads_.SetEntry(entry, scratch_);
    keys_.Add(scratch_, InputQueue::kNoStamp);
  }
  if (emscripten_sample_gamepad_data() != EMSCRIPTEN_RESULT_SUCCESS) return false;
  const int listed = std::min(emscripten_get_num_gamepads(), kPadSlots);
  const auto nowMs = static_cast<std::int64_t>(emscripten_get_now());
  bool pressed = false;
  for (int i = 0; i < kPadSlots; ++i) {
    EmscriptenGamepadEvent pad{};
    const bool present =
        i < listed && emscripten_get_gamepad_status(i, &pad) == EMSCRIPTEN_RESULT_SUCCESS && pad.connected != 0;
    std::string identity = present ? std::string(pad.id) : std::string();
    if (present && std::strcmp(pad.mapping, "standard") != 0) {
      if (padRefused_[static_cast<std::size_t>(i)] != identity) {
        padRefused_[static_cast<std::size_t>(i)] = identity;
        qr_message(("The game pad \"" + identity + "\" is not used: its buttons have no standard layout.").c_str());
      }
      identity.clear();
    }
    std::string& at = padAt_[static_cast<std::size_t>(i)];
    if (identity != at) {
      padButtons_[static_cast<std::size_t>(i)] = 0;
      if (!at.empty()) {
        pads_.Detach(i, scratch_);
        keys_.Add(scratch_, InputQueue::kNoStamp);
      }
      at = identity;
      if (!at.empty()) {
        if (const int side = pads_.Attach(i, at); side != 0) {
          std::printf("Game pad \"%s\" plays player %d\n", at.c_str(), side);
          std::fflush(stdout);
        }
      }
    }
    if (at.empty()) continue;
    std::uint8_t& held = padButtons_[static_cast<std::size_t>(i)];
    for (std::size_t b = 0; b < kPadButtons.size(); ++b) {
      const auto [number, button] = kPadButtons[b];
      const bool down = number < pad.numButtons && pad.digitalButton[number] != 0;
      const auto bit = static_cast<std::uint8_t>(1U << b);
      if (down && (held & bit) == 0 && (button == Gamepads::Button::A || button == Gamepads::Button::Start)) {
        pressed = true;
      }
      // Only a change is news: a button still held as the entry ends must not count as pressed again.
      if (down != ((held & bit) != 0)) pads_.SetButton(i, button, down, nowMs, scratch_);
      held = static_cast<std::uint8_t>(down ? held | bit : held & ~bit);
    }
    const double y = pad.numAxes > 1 && std::isfinite(pad.axis[1]) ? std::clamp(pad.axis[1], -1.0, 1.0) : 0.0;
    pads_.SetStick(i, static_cast<int>(std::lround(y * 32767)), nowMs, scratch_);
    if (keys_.Add(scratch_, Stamp(pad.timestamp))) qr_wake();
  }
  pads_.Tick(nowMs);
  const bool playing = std::any_of(padAt_.begin(), padAt_.end(), [](const std::string& at) { return !at.empty(); });
  if (playing != padTimerOn_) {
    padTimerOn_ = playing;
    qr_pad_timer_on(this, kPadPollMs, playing ? 1 : 0);
  }
  return pressed;
}

}  // namespace qr

// The page calls this for the pads' timer (see qr_pad_timer_on).
extern "C" EMSCRIPTEN_KEEPALIVE void qr_pad_timer(void* host) { qr::WebHost::OnPadTimer(host); }

// The page's touch controls (web/rall.js): a control touched (down 1) or let go (0), with the
// event's time stamp.
extern "C" EMSCRIPTEN_KEEPALIVE void qr_touch(int control, int down, double stamp) {
  if (qr::listening != nullptr) qr::listening->Touch(control, down != 0, stamp);
}

// The player came back to the paused page.
extern "C" EMSCRIPTEN_KEEPALIVE void qr_resume() {
  if (qr::listening != nullptr) qr::listening->Resume();
}
