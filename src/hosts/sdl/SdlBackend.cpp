#include "hosts/sdl/SdlBackend.hpp"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "hosts/desktop/DataDir.hpp"
#include "hosts/desktop/DataFiles.hpp"
#include "hosts/sdl/KeyMap.hpp"
#include "hosts/sdl/PadInput.hpp"
#include "hosts/sdl/Screenshot.hpp"
#include "hosts/sdl/Signals.hpp"
#include "hosts/sdl/SoundPlayer.hpp"
#include "hosts/sdl/Viewport.hpp"
#include "hosts/shared/Pacer.hpp"
#include "hosts/shared/PassStats.hpp"
#include "machine/Font.hpp"
#include "machine/Surface.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// Switching to and from fullscreen, and the start-up pointer move, may take the focus away for
// a moment; a loss in this time counts only if the focus has not come back when it is over.
constexpr std::int64_t kFocusGraceMs = 1000;
// How long after showing the window its frame is waited for.
constexpr std::int64_t kFitWaitMs = 1000;
// Once a signal has asked the program to end, how long the game has to end.
constexpr std::int64_t kEndWithinMs = 3000;

std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t SteadyUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// When an SDL event happened, on the steady clock in microseconds: its timestamp is in
// milliseconds since SDL started. A stamp more than a second old is not believed: now.
std::int64_t EventUs(Uint32 timestamp) {
  const Uint32 age = SDL_GetTicks() - timestamp;
  return SteadyUs() - static_cast<std::int64_t>(age < 1000 ? age : 0) * 1000;
}

// A window of the default scale: smaller, and moved, when with the window manager's frame it
// does not fit the usable part of its display. Some systems know the frame once the window is
// made; X11 only a moment after it is shown. False while the frame is not known.
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

// Once a signal has asked the program to end, it ends within kEndWithinMs whatever the game
// does: a game thread stuck (say, in a write nobody takes) would otherwise keep the window, and
// the program, alive for good. When the time is up the program says so and ends, exit code 1.
class EndDeadline {
 public:
  EndDeadline() = default;
  ~EndDeadline() { Disarm(); }
  EndDeadline(const EndDeadline&) = delete;
  EndDeadline& operator=(const EndDeadline&) = delete;

  // Starts the clock (once).
  void Arm() {
    std::lock_guard lock(mutex_);
    if (watcher_.joinable() || disarmed_) return;
    try {
      watcher_ = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
      // No thread to be had: no deadline, as before there was one.
    }
  }

  // Everything ended in time.
  void Disarm() {
    {
      std::lock_guard lock(mutex_);
      disarmed_ = true;
    }
    ended_.notify_all();
    if (watcher_.joinable()) watcher_.join();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    if (ended_.wait_for(lock, std::chrono::milliseconds(kEndWithinMs), [this] { return disarmed_; })) return;
    std::fprintf(stderr, "quillmarsh-rall: the game has not ended %lld s after the signal; ending without it\n",
                 static_cast<long long>(kEndWithinMs / 1000));
    std::fflush(stderr);
    std::_Exit(1);  // the game thread is still running: nothing may be torn down under it
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  bool disarmed_ = false;
  std::thread watcher_;
};

// The window's host: SDL lives on the thread that called RunWindowed and the game on a thread
// of its own. The game thread hands over frames, requests (show, caption, pointer) and its
// end; the window thread queues the input, which the game takes at the end of each sleep.
class SdlHost final : public Host {
 public:
  SdlHost(const WindowOptions& options, SDL_Window* window)
      : options_(options),
        window_(window),
        sound_(options.mute, SoundPlayer::Start::WhenReleased),  // released by the first frame
        files_(options.dataDir.empty() ? DefaultDataDirectory() : options.dataDir),
        wakeEvent_(SDL_RegisterEvents(1)),
        startMs_(SteadyMs()) {}
  ~SdlHost() override {
    if (canvas_ != nullptr) SDL_FreeSurface(canvas_);
  }

  // ---- The game thread.

  // Hands the picture to the window thread, which looks for it at its next turn. The frame
  // carries the times of the input the game took before drawing it; such a frame answers that
  // input, and the window thread is woken to show it at once.
  void ShowFrame(const Surface& surface) override {
    bool answers = false;
    {
      std::lock_guard lock(mutex_);
      frame_.indices.assign(surface.Indices().begin(), surface.Indices().end());
      frame_.palette = surface.Palette();
      frameNew_ = true;
      answers = !observed_.empty();
      frameStamps_.insert(frameStamps_.end(), observed_.begin(), observed_.end());
      observed_.clear();
    }
    if (answers) Wake();
  }

  void TakeInput(std::vector<InputEvent>& events) override {
    std::lock_guard lock(mutex_);
    events.insert(events.end(), input_.begin(), input_.end());
    input_.clear();
    observed_.insert(observed_.end(), inputStamps_.begin(), inputStamps_.end());
    inputStamps_.clear();
  }

  void ShowWindow() override {
    OnWindowThread([this] {
      SDL_ShowWindow(window_);
      if (options_.scale == 0 && !options_.fullscreen) fitUntil_ = SteadyMs() + kFitWaitMs;
      // Without a window manager nobody gives a new window the focus.
      SDL_RaiseWindow(window_);
      SDL_SetWindowInputFocus(window_);
      mustPresent_ = true;
      if (!keysShown_) {
        keysShown_ = true;
        std::puts(
            "Keys: Q coin, 1/2 start, A/Z (or ;) player 1, Up/Down player 2, Esc leave, F11 fullscreen, "
            "F12 screenshot");
        std::fflush(stdout);
      }
    });
  }

  void SetCaption(const std::string& caption) override {
    OnWindowThread([this, caption] { SDL_SetWindowTitle(window_, caption.c_str()); });
  }

  // The game clock runs on the wall clock: game time t is due at the start time plus t, so a
  // late wake-up is made good by the next sleeps and the game keeps its 100 passes a second.
  // After a stall (a suspended laptop, a debugger) or a jump of the game clock, pacing starts
  // afresh rather than racing to catch up.
  void Pace(std::int64_t gameMs) override {
    using namespace std::chrono;
    stats_.Slept();
    const auto now = steady_clock::now();
    const Pacer::Wait w = pacer_.Next(gameMs, duration_cast<microseconds>(now.time_since_epoch()).count());
    const steady_clock::time_point wake{microseconds(w.dueUs)};
    if (wake > now) {
      // A key or a pad that comes during the last pass's time ends the wait at once: the game
      // takes it at the same game time, only sooner, and the next wait is the longer for it.
      std::this_thread::sleep_until(steady_clock::time_point{microseconds(w.earliestUs)});
      std::unique_lock lock(mutex_);
      inputArrived_.wait_until(lock, wake, [this] { return !inputStamps_.empty(); });
    } else {
      std::this_thread::yield();
    }
  }

  void MovePointer(std::int32_t x, std::int32_t y) override {
    OnWindowThread([this, x, y] {
      graceUntil_ = SteadyMs() + kFocusGraceMs;
      SDL_WarpMouseGlobal(x, y);
    });
  }

  LoadedFile LoadFile(const std::string& name, std::size_t limit) override { return files_.Load(name, limit); }
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override {
    return files_.Save(name, bytes, error);
  }
  void RemoveFile(const std::string& name) override { files_.Remove(name); }
  std::string FilesLocation() override { return files_.Location(); }
  bool LockFiles(std::string& error) override { return files_.Lock(error); }
  void UnlockFiles() override { files_.Unlock(); }
  void Tell(const std::string& message) override {
    std::fprintf(stderr, "quillmarsh-rall: %s\n", message.c_str());
    std::fflush(stderr);
  }

  void PlaySound(const std::string& name) override { sound_.Play(name); }

  std::uint64_t RandomSeed() override {
    if (options_.seed) return *options_.seed;
    return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  }

  void CountPass(LoopId id) override { stats_.Pass(id, SteadyMs() - startMs_); }
  void TextEntry(bool on) override { textEntry_.store(on, std::memory_order_relaxed); }
  std::string Recording(std::int64_t /*gameStartMs*/) override { return {}; }

  // Runs the game; at its end the window thread closes the window.
  void RunGame(const std::function<void(Host&)>& game) {
    try {
      game(*this);
    } catch (const std::exception& e) {
      failure_ = e.what();
    } catch (...) {
      failure_ = "the game stopped on an unknown error";
    }
    {
      std::lock_guard lock(mutex_);
      gameDone_ = true;
    }
    Wake();
  }

  // ---- The window thread.

  // The window thread wakes for window events and the game thread's requests, and otherwise
  // once per refresh of the display to show the game's newest frame. A quit signal closes the
  // window, and from then on the game has a limited time to end.
  void RunWindowLoop(QuitSignals& signals, EndDeadline& deadline) {
    for (;;) {
      if (signals.Forward()) deadline.Arm();
      std::int64_t wait = nextPresentMs_ - SteadyMs();
      if (pendingLoss_) wait = std::min(wait, graceUntil_ - SteadyMs());
      SDL_Event e;
      if (SDL_WaitEventTimeout(&e, static_cast<int>(std::clamp<std::int64_t>(wait, 1, 1000))) != 0) {
        Handle(e);
        while (SDL_PollEvent(&e) != 0) Handle(e);
      }
      if (RunRequests()) return;
      FollowEntry();
      if (fitUntil_ != 0 && (FitToDesktop(window_) || SteadyMs() > fitUntil_)) fitUntil_ = 0;
      if (pendingLoss_ && SteadyMs() >= graceUntil_) {
        pendingLoss_ = false;
        if ((SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) == 0) QueueFocusLoss(InputEvent::Kind::FocusLost);
      }
      Present();
    }
  }

  // Waits for the screenshots still being written.
  void FinishScreenshots() { screenshots_.Finish(); }

  const std::string& Failure() const { return failure_; }
  const PassStats& Stats() const { return stats_; }
  std::string LatencyReportText() const { return LatencyReport(latencies_); }
  // "Window: 1200 frames shown, 59.9 per second"
  std::string WindowReport() const {
    const double s = static_cast<double>(SteadyMs() - startMs_) / 1000.0;
    char line[120];
    std::snprintf(line, sizeof line, "Window: %lld frames shown, %.1f per second\n", static_cast<long long>(presents_),
                  s > 0 ? static_cast<double>(presents_) / s : 0.0);
    return line;
  }

 private:
  // Game thread: runs fn on the window thread and waits until it has run.
  void OnWindowThread(std::function<void()> fn) {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = ++requestsPosted_;
    requests_.push_back(std::move(fn));
    lock.unlock();
    Wake();
    lock.lock();
    requestDone_.wait(lock, [&] { return requestsDone_ >= ticket; });
  }

  void Wake() {
    SDL_Event e{};
    e.type = wakeEvent_;
    SDL_PushEvent(&e);
  }

  // Window thread: runs the requests; true when the game has ended.
  bool RunRequests() {
    std::deque<std::function<void()>> requests;
    bool done = false;
    {
      std::lock_guard lock(mutex_);
      requests.swap(requests_);
      done = gameDone_;
    }
    if (!requests.empty()) {
      for (auto& fn : requests) fn();
      {
        std::lock_guard lock(mutex_);
        requestsDone_ += requests.size();
      }
      requestDone_.notify_all();
    }
    return done;
  }

  // Window thread: queues input for the game; a key's or a pad's event with the time it
  // happened (for the latency statistics).
  void Queue(InputEvent e, std::int64_t stampUs = -1) {
    {
      std::lock_guard lock(mutex_);
      input_.push_back(e);
      if (stampUs < 0) return;
      inputStamps_.push_back(stampUs);
    }
    inputArrived_.notify_one();  // a key's repeat and the events the window makes itself can wait
  }
  void QueueAll(std::vector<InputEvent>& events, std::int64_t stampUs) {
    for (const InputEvent& e : events) Queue(e, stampUs);
    events.clear();
  }

  // Every key held goes up: the window no longer hears them.
  void ReleaseAll() {
    held_.ReleaseAll(0xFF, scratch_);
    QueueAll(scratch_, -1);
  }

  // One loss is enough: the game ends on it. (Closing the window brings a close and a quit.)
  void QueueFocusLoss(InputEvent::Kind kind) {
    ReleaseAll();
    if (focusLossQueued_) return;
    focusLossQueued_ = true;
    Queue(InputEvent{kind, 0});
  }

  void Handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:  // also Ctrl+C in the terminal: closing acts as losing the focus
        QueueFocusLoss(InputEvent::Kind::Close);
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
        if (pads_.Handle(e, SteadyMs(), scratch_)) QueueAll(scratch_, EventUs(e.common.timestamp));
        break;
    }
  }

  void HandleWindowEvent(const SDL_WindowEvent& w) {
    switch (w.event) {
      case SDL_WINDOWEVENT_FOCUS_GAINED:
        hadFocus_ = true;
        pendingLoss_ = false;
        break;
      case SDL_WINDOWEVENT_FOCUS_LOST:
        ReleaseAll();
        if (!hadFocus_) break;  // the window never had it: nothing was lost
        if (SteadyMs() < graceUntil_) {
          pendingLoss_ = true;
        } else {
          QueueFocusLoss(InputEvent::Kind::FocusLost);
        }
        break;
      case SDL_WINDOWEVENT_CLOSE:
        QueueFocusLoss(InputEvent::Kind::Close);
        break;
      case SDL_WINDOWEVENT_DISPLAY_CHANGED:
        refreshRate_ = 0;
        mustPresent_ = true;
        break;
      case SDL_WINDOWEVENT_EXPOSED:
      case SDL_WINDOWEVENT_SIZE_CHANGED:
      case SDL_WINDOWEVENT_SHOWN:
      case SDL_WINDOWEVENT_RESTORED:
        mustPresent_ = true;
        break;
      default:
        break;
    }
  }

  // F11 and Alt+Enter switch fullscreen, F12 takes a screenshot; the game sees none of them.
  void HandleKeyDown(const SDL_KeyboardEvent& k) {
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
    pads_.gamepads().KeyboardUsed();
    held_.Press(vk, HeldKeys::kKeyboard, scratch_);  // auto-repeat comes as further key-downs
    QueueAll(scratch_, k.repeat != 0 ? -1 : EventUs(k.timestamp));
  }

  void HandleKeyUp(const SDL_KeyboardEvent& k) {
    const SDL_Scancode sc = k.keysym.scancode;
    if (sc == SDL_SCANCODE_F11 || sc == SDL_SCANCODE_F12) return;
    if (IsEnter(sc) && altEnterDown_) {
      altEnterDown_ = false;
      return;
    }
    const int vk = VirtualKeyFor(sc, k.keysym.sym);
    // Shift, Ctrl and Alt have one code for both keys: it is up when both are.
    const Uint8* state = SDL_GetKeyboardState(nullptr);
    auto both = [&](SDL_Scancode a, SDL_Scancode b) { return state[a] == 0 && state[b] == 0; };
    if (vk == vk::kShift && !both(SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT)) return;
    if (vk == vk::kControl && !both(SDL_SCANCODE_LCTRL, SDL_SCANCODE_RCTRL)) return;
    if (vk == vk::kAlt && !both(SDL_SCANCODE_LALT, SDL_SCANCODE_RALT)) return;
    held_.Release(vk, HeldKeys::kKeyboard, scratch_);
    QueueAll(scratch_, EventUs(k.timestamp));
  }

  // The pads type the initials while the game's entry loop runs; a held up or down steps on.
  void FollowEntry() {
    const bool entry = textEntry_.load(std::memory_order_relaxed);
    if (entry != pads_.gamepads().Entry()) {
      pads_.gamepads().SetEntry(entry, scratch_);
      QueueAll(scratch_, -1);
    }
    pads_.gamepads().Tick(SteadyMs());
  }

  void ToggleFullscreen() {
    const bool full = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN) != 0;
    graceUntil_ = SteadyMs() + kFocusGraceMs;
    if (SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
      std::fprintf(stderr, "quillmarsh-rall: cannot switch fullscreen: %s\n", SDL_GetError());
    }
    mustPresent_ = true;
  }

  // The playfield as it is on the screen, written on the screenshot thread; its path is printed
  // once the file is complete.
  void SaveScreenshotNow() {
    const std::time_t t = std::time(nullptr);
    std::tm when{};
#if defined(_WIN32)
    localtime_s(&when, &t);
#else
    localtime_r(&t, &when);
#endif
    screenshots_.Save(files_.Location(), shown_, std::max(1, viewport_.scale), when);
  }

  static void ReportScreenshot(const std::string& path, const std::string& error) {
    if (path.empty()) {
      std::fprintf(stderr, "quillmarsh-rall: cannot save the screenshot: %s\n", error.c_str());
    } else {
      std::printf("%s\n", path.c_str());
      std::fflush(stdout);
    }
  }

  // Window thread: at most once per refresh of the display (without vsync more would never be
  // seen), shows the game's newest frame if it differs from the one on the screen, or the
  // window needs painting; a frame that answers input, at once. Never waits for the display.
  //
  // The frame is scaled here, into a canvas the size of the window, and only the parts that
  // changed are handed to the window system: in a rally that is the ball and a paddle or two.
  // (Scaling the whole frame on the GPU, or with Mesa's software GL where there is none, costs
  // more than the game itself.)
  void Present() {
    const std::int64_t now = SteadyMs();
    const std::int64_t period = 1000 / RefreshRate();
    bool fresh = false;
    {
      std::lock_guard lock(mutex_);
      // A frame that answers a key or a pad goes out at once: waiting for the next turn would
      // add up to a refresh to the time the player waits. The others wait for the next turn.
      const bool answers = frameNew_ && !frameStamps_.empty();
      if (now < nextPresentMs_ && !answers) return;
      nextPresentMs_ = now + period;
      if (frameNew_) {
        frameNew_ = false;
        fresh = true;
        std::swap(raw_, frame_);
        presentStamps_.insert(presentStamps_.end(), frameStamps_.begin(), frameStamps_.end());
        frameStamps_.clear();
      }
    }
    // The picture shown is the game's, with the character the pad would type over it.
    const char preview = pads_.gamepads().Preview();
    if (fresh || preview != previewShown_) {
      incoming_ = raw_;
      previewShown_ = preview;
      if (preview != 0) DrawPadPreview(incoming_.indices, incoming_.palette, preview);
    }
    const bool changed = !incoming_.indices.empty() && incoming_ != shown_;
    PresentChanges(changed);
    // The input the game took before drawing this frame is answered now.
    const std::int64_t end = SteadyUs();
    for (const std::int64_t t : presentStamps_) latencies_.push_back(end - t);
    presentStamps_.clear();
  }

  void PresentChanges(bool changed) {
    if (!changed && !mustPresent_) return;

    SDL_Surface* target = SDL_GetWindowSurface(window_);
    if (target == nullptr) return;
    const Viewport fit = FitPlayfield(target->w, target->h);
    const bool whole = mustPresent_ || canvas_ == nullptr || canvas_->w != target->w || canvas_->h != target->h ||
                       fit.x != viewport_.x || fit.y != viewport_.y || fit.w != viewport_.w || fit.h != viewport_.h ||
                       shown_.indices.empty() || fit.scale == 0;
    mustPresent_ = false;
    viewport_ = fit;
    // incoming_ now holds the frame on the screen before (made again from raw_ when needed).
    if (changed) std::swap(shown_, incoming_);
    if (shown_.indices.empty()) return;

    if (canvas_ == nullptr || canvas_->w != target->w || canvas_->h != target->h) {
      if (canvas_ != nullptr) SDL_FreeSurface(canvas_);
      canvas_ = SDL_CreateRGBSurfaceWithFormat(0, target->w, target->h, 32, SDL_PIXELFORMAT_ARGB8888);
      if (canvas_ == nullptr) return;
    }
    std::vector<SDL_Rect> rects;
    if (whole) {
      SDL_FillRect(canvas_, nullptr, 0xFF000000u);
      Scale(UnitRect{0, 0, Surface::kWidth - 1, Surface::kHeight - 1});
      rects.push_back(SDL_Rect{0, 0, target->w, target->h});
    } else {
      const int s = viewport_.scale;
      for (const UnitRect& r : ChangedStrips(incoming_.indices, incoming_.palette, shown_.indices, shown_.palette)) {
        Scale(r);
        rects.push_back(
            SDL_Rect{viewport_.x + r.x0 * s, viewport_.y + r.y0 * s, (r.x1 - r.x0 + 1) * s, (r.y1 - r.y0 + 1) * s});
      }
    }
    for (SDL_Rect& r : rects) SDL_BlitSurface(canvas_, &r, target, &r);
    if (!rects.empty()) {
      SDL_UpdateWindowSurfaceRects(window_, rects.data(), static_cast<int>(rects.size()));
      if (++presents_ == 1) sound_.Release();  // the sound's preparation waited for the first frame
    }
  }

  void Scale(const UnitRect& region) {
    SDL_LockSurface(canvas_);
    ScaleFrame(shown_.indices, shown_.palette, viewport_, region, static_cast<std::uint8_t*>(canvas_->pixels),
               canvas_->pitch);
    SDL_UnlockSurface(canvas_);
  }

  int RefreshRate() {
    SDL_DisplayMode mode{};
    if (refreshRate_ == 0) {
      const int display = SDL_GetWindowDisplayIndex(window_);
      const bool known = display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 && mode.refresh_rate > 0;
      refreshRate_ = known ? mode.refresh_rate : 60;
    }
    return refreshRate_;
  }

  const WindowOptions& options_;
  SDL_Window* window_;
  SoundPlayer sound_;
  DataFiles files_;
  const Uint32 wakeEvent_;
  const std::int64_t startMs_;
  PassStats stats_;  // game thread only, read after it has ended
  Pacer pacer_;
  std::string failure_;

  // Shared, under mutex_.
  std::mutex mutex_;
  std::condition_variable requestDone_;
  std::condition_variable inputArrived_;  // the game's wait ends early
  Frame frame_;
  bool frameNew_ = false;
  std::vector<InputEvent> input_;
  std::vector<std::int64_t> inputStamps_;  // when the events in input_ happened (keys and pads)
  std::vector<std::int64_t> observed_;     // ... of the events the game took, not yet drawn
  std::vector<std::int64_t> frameStamps_;  // ... of the events frame_ answers
  std::deque<std::function<void()>> requests_;
  std::uint64_t requestsPosted_ = 0;
  std::uint64_t requestsDone_ = 0;
  bool gameDone_ = false;

  // Window thread only.
  Frame raw_;       // the game's newest frame
  Frame incoming_;  // raw_ with the preview: the picture to show
  Frame shown_;
  char previewShown_ = 0;
  std::vector<std::int64_t> presentStamps_;
  std::vector<std::int64_t> latencies_;  // microseconds from an event to the frame that answers it
  std::atomic<bool> textEntry_{false};   // the game takes typed characters (from the game thread)
  HeldKeys held_;
  PadInput pads_{held_};
  std::vector<InputEvent> scratch_;
  SDL_Surface* canvas_ = nullptr;  // the scaled picture, the size of the window
  Viewport viewport_;
  bool mustPresent_ = false;
  std::int64_t nextPresentMs_ = 0;
  int refreshRate_ = 0;  // 0: not known yet
  std::int64_t presents_ = 0;
  bool hadFocus_ = false;
  bool pendingLoss_ = false;
  bool altEnterDown_ = false;
  bool focusLossQueued_ = false;
  bool keysShown_ = false;
  std::int64_t graceUntil_ = 0;
  std::int64_t fitUntil_ = 0;  // until then, the window is fitted to the desktop once its frame is known
  ScreenshotWriter screenshots_{ReportScreenshot};  // last: the first to finish
};

}  // namespace

int RunWindowed(const WindowOptions& options, const std::function<void(Host&)>& game) {
  // The window's own framebuffer (shared memory on X11), not one emulated with a GL texture:
  // only the changed parts of the picture go to the screen, and no GL driver is woken for them.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Losing the focus ends the game anyway; a fullscreen window must not minimise on its own.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
#if !defined(_WIN32) && !defined(__APPLE__)
  // Only real displays: without one, SDL would fall back to drawing off-screen and the game
  // would run unseen. (SDL_VIDEODRIVER in the environment still wins.)
  SDL_SetHint(SDL_HINT_VIDEODRIVER, std::getenv("WAYLAND_DISPLAY") != nullptr ? "x11,wayland,KMSDRM" : "x11,KMSDRM");
#endif
#if !defined(_WIN32)
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // QuitSignals turns them into SDL_QUIT
#endif
  // Both outlive SDL: the deadline covers the whole way out, SDL_Quit included.
  QuitSignals signals;
  EndDeadline deadline;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(
        stderr, "quillmarsh-rall: no display to open the window on (SDL: %s); use --headless to run without a window\n",
        SDL_GetError());
    return 1;
  }

  if (options.gamepads && SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
    std::fprintf(stderr, "quillmarsh-rall: game pads cannot be used (SDL: %s); the keyboard works\n", SDL_GetError());
  }

  SDL_Rect usable{0, 0, 0, 0};
  if (SDL_GetDisplayUsableBounds(0, &usable) != 0) usable = SDL_Rect{0, 0, 0, 0};
  const int scale = StartScale(options.scale, usable.w, usable.h);
  Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
  if (options.fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  SDL_Window* window = SDL_CreateWindow("Quillmarsh Rall", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        Surface::kWidth * scale, Surface::kHeight * scale, flags);
  if (window == nullptr) {
    std::fprintf(stderr, "quillmarsh-rall: cannot open the window: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  // Below one pixel a unit the picture cannot be read.
  SDL_SetWindowMinimumSize(window, Surface::kWidth, Surface::kHeight);
  if (options.scale == 0 && !options.fullscreen) FitToDesktop(window);
  SDL_ShowCursor(SDL_DISABLE);  // hidden while over the window

  int code = 0;
  {
    SdlHost host(options, window);
    std::thread gameThread([&] { host.RunGame(game); });
    host.RunWindowLoop(signals, deadline);
    if (signals.Seen()) deadline.Arm();  // a signal after the game had ended by itself
    gameThread.join();
    SDL_HideWindow(window);
    host.FinishScreenshots();
    if (!host.Failure().empty()) {
      std::fprintf(stderr, "quillmarsh-rall: %s\n", host.Failure().c_str());
      code = 1;
    }
    if (options.stats) {
      std::fputs((host.Stats().Report() + host.WindowReport() + host.LatencyReportText()).c_str(), stderr);
    }
  }
  SDL_DestroyWindow(window);
  SDL_Quit();
  return code;
}

}  // namespace qr
