#include "hosts/sdl/WindowLoop.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "hosts/sdl/EndDeadline.hpp"
#include "hosts/sdl/KeyMap.hpp"
#include "hosts/sdl/Viewport.hpp"
#include "machine/Surface.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// How long after showing the window its frame is waited for.
constexpr std::int64_t kFitWaitMs = 1000;

std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// When an SDL event happened, on the steady clock in microseconds: its timestamp is in
// milliseconds since SDL started. A stamp more than a second old is not believed: now.
InputQueue::Stamp EventUs(Uint32 timestamp) {
  using namespace std::chrono;
  const Uint32 age = SDL_GetTicks() - timestamp;
  const std::int64_t now = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<InputQueue::Stamp>(now - static_cast<std::int64_t>(age < 1000 ? age : 0) * 1000);
}

void ReportScreenshot(const std::string& path, const std::string& error) {
  if (path.empty()) {
    std::fprintf(stderr, "quillmarsh-rall: cannot save the screenshot: %s\n", error.c_str());
  } else {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
  }
}

}  // namespace

bool FitToDesktop(SDL_Window* window) {
  const int display = SDL_GetWindowDisplayIndex(window);
  SDL_Rect usable{};
  Borders frame;
  if (display < 0 || SDL_GetDisplayUsableBounds(display, &usable) != 0 ||
      SDL_GetWindowBordersSize(window, &frame.top, &frame.left, &frame.bottom, &frame.right) != 0 ||
      frame.top + frame.left + frame.bottom + frame.right == 0) {
    return false;
  }
  const WindowPlace place = PlaceWindow(DesktopRect{usable.x, usable.y, usable.w, usable.h}, frame);
  int w = 0;
  int h = 0;
  SDL_GetWindowSize(window, &w, &h);
  if (w > Surface::kWidth * place.scale || h > Surface::kHeight * place.scale) {
    SDL_SetWindowSize(window, Surface::kWidth * place.scale, Surface::kHeight * place.scale);
    SDL_SetWindowPosition(window, place.x, place.y);
  }
  return true;
}

WindowLoop::WindowLoop(const WindowOptions& options, SDL_Window* window, ThreadBridge& bridge, SoundPlayer& sound,
                       std::string screenshotDir)
    : options_(options),
      window_(window),
      bridge_(bridge),
      sound_(sound),
      screenshotDir_(std::move(screenshotDir)),
      presenter_(window),
      screenshots_(ReportScreenshot) {}

void WindowLoop::Run(QuitSignals& signals, EndDeadline& deadline) {
  for (;;) {
    if (signals.Forward()) deadline.Arm();
    std::int64_t wait = presenter_.NextMs() - SteadyMs();
    if (focus_.Pending()) wait = std::min(wait, focus_.GraceUntil() - SteadyMs());
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, static_cast<int>(std::clamp<std::int64_t>(wait, 1, 1000))) != 0) {
      Handle(e);
      while (SDL_PollEvent(&e) != 0) Handle(e);
    }
    if (bridge_.RunRequests([this](const WindowRequest& r) { Carry(r); })) return;
    for (const WindowNotice& notice : bridge_.TakeNotices()) Show(notice);
    if (!pause_.Paused()) FollowEntry();
    if (fitUntil_ != 0 && (FitToDesktop(window_) || SteadyMs() > fitUntil_)) fitUntil_ = 0;
    if (focus_.Due(SteadyMs()) && (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) == 0) LoseFocus();
    Post();
    if (presenter_.Present(bridge_, pads_.gamepads().Preview(), SteadyMs())) {
      sound_.Release();  // the sound's preparation waited for the first frame
    }
  }
}

void WindowLoop::Carry(const WindowRequest& r) {
  switch (r.kind) {
    case WindowRequest::Kind::Show:
      SDL_ShowWindow(window_);
      if (options_.scale == 0 && !options_.fullscreen) fitUntil_ = SteadyMs() + kFitWaitMs;
      // Without a window manager nobody gives a new window the focus.
      SDL_RaiseWindow(window_);
      SDL_SetWindowInputFocus(window_);
      presenter_.Repaint();
      if (!keysShown_) {
        keysShown_ = true;
        std::puts(
            "Keys: Q coin, 1/2 start, A/Z (or ;) player 1, Up/Down player 2, Esc leave, F11 fullscreen, "
            "F12 screenshot");
        std::fflush(stdout);
      }
      break;
    case WindowRequest::Kind::Caption:
      SDL_SetWindowTitle(window_, r.caption.c_str());
      break;
    case WindowRequest::Kind::MovePointer:
      focus_.StartGrace(SteadyMs());
      SDL_WarpMouseGlobal(r.x, r.y);
      break;
  }
}

// A banner goes over the picture. A box takes the focus for as long as it is up: that is no loss
// of the window's. The game goes on meanwhile, unseen, and takes no input; the keys held when the
// box came are let go.
void WindowLoop::Show(const WindowNotice& notice) {
  if (notice.banner) {
    presenter_.ShowBanner(notice.text.empty() ? std::vector<std::string>{} : std::vector<std::string>{notice.text});
    return;
  }
  SDL_MessageBoxButtonData buttons[2] = {};
  buttons[0].flags = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
  buttons[0].buttonid = 1;
  buttons[0].text = notice.yes.c_str();
  int count = 1;
  if (!notice.no.empty()) {
    buttons[1].flags = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    buttons[1].buttonid = 0;
    buttons[1].text = notice.no.c_str();
    count = 2;
  } else {
    buttons[0].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
  }
  SDL_MessageBoxData box{};
  box.flags = SDL_MESSAGEBOX_INFORMATION;
  box.window = window_;
  box.title = notice.title.c_str();
  box.message = notice.text.c_str();
  box.numbuttons = count;
  box.buttons = buttons;
  focus_.StartGrace(SteadyMs());
  keys_.ReleaseAll();
  int pressed = -1;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) {
    std::fprintf(stderr, "quillmarsh-rall: cannot show a message box: %s\n", SDL_GetError());
    pressed = -1;
  }
  focus_.StartGrace(SteadyMs());
  SDL_RaiseWindow(window_);
  SDL_SetWindowInputFocus(window_);
  presenter_.Repaint();
  if (notice.answered) notice.answered(pressed == 1);
}

void WindowLoop::Handle(const SDL_Event& e) {
  switch (e.type) {
    case SDL_QUIT:  // also Ctrl+C in the terminal: closing acts as losing the focus
      End(InputEvent::Kind::Close);
      break;
    case SDL_WINDOWEVENT:
      HandleWindowEvent(e.window);
      break;
    case SDL_KEYDOWN:
      HandleKeyDown(e.key);
      break;
    case SDL_KEYUP:
      HandleKeyUp(e.key);
      break;
    default:
      if (pause_.Paused()) {
        HandlePausedEvent(e);
      } else if (pads_.Handle(e, SteadyMs(), scratch_)) {
        keys_.Add(scratch_, EventUs(e.common.timestamp));
      }
      break;
  }
  Post();
}

// While paused the pads are still followed (they may come and go), but nothing they press is the
// game's; a click or a pad's button may go on.
void WindowLoop::HandlePausedEvent(const SDL_Event& e) {
  if (pads_.Handle(e, SteadyMs(), scratch_)) scratch_.clear();
  const bool press = e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_CONTROLLERBUTTONDOWN;
  if (press && pause_.Press(SteadyMs())) GoOn();
}

void WindowLoop::LoseFocus() {
  if (!options_.pauseWhenUnfocused) {
    keys_.EndOnce(InputEvent::Kind::FocusLost);
    return;
  }
  // A game that is ending (the window closed) must not be held.
  if (!keys_.Ended() && pause_.Lost()) {
    bridge_.SetPaused(true);
    presenter_.ShowPaused(true);
  }
}

// The game goes on at the end of the sleep the pause held: the keys held when the focus went,
// and whatever the pads pressed meanwhile, go up then.
void WindowLoop::GoOn() {
  keys_.ReleaseAll();
  presenter_.ShowPaused(false);
  bridge_.PostInput(pending_);
  bridge_.SetPaused(false);
}

void WindowLoop::End(InputEvent::Kind kind) {
  keys_.EndOnce(kind);
  if (!pause_.Paused()) return;
  pause_.Closed();
  GoOn();
}

void WindowLoop::Post() {
  if (!pause_.Paused()) bridge_.PostInput(pending_);
}

void WindowLoop::HandleWindowEvent(const SDL_WindowEvent& w) {
  switch (w.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      focus_.Gained();
      pause_.Gained(SteadyMs());
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      keys_.ReleaseAll();  // the window no longer hears them
      if (focus_.Lost(SteadyMs()) == FocusGrace::Loss::Now) LoseFocus();
      break;
    case SDL_WINDOWEVENT_CLOSE:
      End(InputEvent::Kind::Close);
      break;
    case SDL_WINDOWEVENT_DISPLAY_CHANGED:
      presenter_.DisplayChanged();
      break;
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_RESTORED:
      presenter_.Repaint();
      break;
    default:
      break;
  }
}

// F11 and Alt+Enter switch fullscreen, F12 takes a screenshot; the game sees none of them.
void WindowLoop::HandleKeyDown(const SDL_KeyboardEvent& k) {
  const SDL_Scancode sc = k.keysym.scancode;
  const WindowKey windowKey = WindowKeyFor(sc, k.keysym.mod);
  if (windowKey != WindowKey::None) {
    if (IsEnter(sc)) altEnterDown_ = true;  // its key-up is not the game's either
    if (k.repeat != 0) return;
    if (windowKey == WindowKey::Screenshot) {
      SaveScreenshotNow();
    } else {
      ToggleFullscreen();
    }
    return;
  }
  if (IsEnter(sc)) altEnterDown_ = false;
  const int vk = VirtualKeyFor(sc, k.keysym.sym);
  if (vk == 0) return;
  switch (pause_.KeyDown(sc, k.repeat != 0, SteadyMs())) {
    case FocusPause::Key::Game:
      break;
    case FocusPause::Key::Kept:
      return;
    case FocusPause::Key::GoOn:
      GoOn();
      return;
  }
  pads_.gamepads().KeyboardUsed();
  keys_.KeyDown(vk, k.repeat != 0, EventUs(k.timestamp));
}

void WindowLoop::HandleKeyUp(const SDL_KeyboardEvent& k) {
  const SDL_Scancode sc = k.keysym.scancode;
  if (WindowKeyFor(sc, 0) != WindowKey::None) return;  // F11, F12
  if (IsEnter(sc) && altEnterDown_) {
    altEnterDown_ = false;
    return;
  }
  if (pause_.KeyUp(sc)) return;  // pressed while paused: not the game's
  const int vk = VirtualKeyFor(sc, k.keysym.sym);
  // Shift, Ctrl and Alt have one code for both keys: it is up when both are.
  const Uint8* state = SDL_GetKeyboardState(nullptr);
  auto both = [&](SDL_Scancode a, SDL_Scancode b) { return state[a] == 0 && state[b] == 0; };
  if (vk == vk::kShift && !both(SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT)) return;
  if (vk == vk::kControl && !both(SDL_SCANCODE_LCTRL, SDL_SCANCODE_RCTRL)) return;
  if (vk == vk::kAlt && !both(SDL_SCANCODE_LALT, SDL_SCANCODE_RALT)) return;
  keys_.KeyUp(vk, EventUs(k.timestamp));
}

// The pads type the initials while the game's entry loop runs; a held up or down steps on.
void WindowLoop::FollowEntry() {
  const bool entry = bridge_.TextEntry();
  if (entry != pads_.gamepads().Entry()) {
    pads_.gamepads().SetEntry(entry, scratch_);
    keys_.Add(scratch_, InputQueue::kNoStamp);
  }
  pads_.gamepads().Tick(SteadyMs());
}

void WindowLoop::ToggleFullscreen() {
  const bool full = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN) != 0;
  focus_.StartGrace(SteadyMs());
  if (SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
    std::fprintf(stderr, "quillmarsh-rall: cannot switch fullscreen: %s\n", SDL_GetError());
  }
  presenter_.Repaint();
}

// The playfield as it is on the screen, written on the screenshot thread; its path is printed
// once the file is complete.
void WindowLoop::SaveScreenshotNow() {
  const std::time_t t = std::time(nullptr);
  std::tm when{};
#if defined(_WIN32)
  localtime_s(&when, &t);
#else
  localtime_r(&t, &when);
#endif
  screenshots_.Save(screenshotDir_, presenter_.Shown(), std::max(1, presenter_.Scale()), when);
}

}  // namespace qr
