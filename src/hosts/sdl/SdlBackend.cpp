#include "hosts/sdl/SdlBackend.hpp"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <thread>

#include "hosts/desktop/DataDir.hpp"
#include "hosts/desktop/DataFiles.hpp"
#include "hosts/sdl/EndDeadline.hpp"
#include "hosts/sdl/Signals.hpp"
#include "hosts/sdl/SoundPlayer.hpp"
#include "hosts/sdl/ThreadBridge.hpp"
#include "hosts/sdl/Viewport.hpp"
#include "hosts/sdl/WindowLoop.hpp"
#include "hosts/shared/Pacer.hpp"
#include "hosts/shared/PassStats.hpp"
#include "machine/Surface.hpp"

namespace qr {

namespace {

std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The window's host as the game sees it: everything here runs on the game thread. Frames,
// requests of the window and the game's end go to the window thread through the bridge, and
// the input comes from it at the end of each sleep.
class SdlHost final : public Host {
 public:
  SdlHost(const WindowOptions& options, ThreadBridge& bridge, SoundPlayer& sound, DataFiles& files)
      : options_(options), bridge_(bridge), sound_(sound), files_(files), startMs_(SteadyMs()) {}

  void ShowFrame(const Surface& surface) override { bridge_.PostFrame(surface); }
  void TakeInput(std::vector<InputEvent>& events) override { bridge_.TakeInput(events); }
  void ShowWindow() override { bridge_.Request(WindowRequest{WindowRequest::Kind::Show, {}, 0, 0}); }
  void SetCaption(const std::string& caption) override {
    bridge_.Request(WindowRequest{WindowRequest::Kind::Caption, caption, 0, 0});
  }
  void MovePointer(std::int32_t x, std::int32_t y) override {
    bridge_.Request(WindowRequest{WindowRequest::Kind::MovePointer, {}, x, y});
  }

  // The game clock runs on the wall clock: game time t is due at the start time plus t, so a
  // late wake-up is made good by the next sleeps and the game keeps its 100 passes a second.
  // After a stall (a suspended laptop, a debugger, a pause) or a jump of the game clock, pacing starts
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
      bridge_.WaitForInput(wake);
    } else {
      std::this_thread::yield();
    }
  }

  void Held(std::int64_t heldUs) override { pacer_.Held(heldUs); }

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

  // A pause is no time of the loops'.
  void CountPass(LoopId id) override { stats_.Pass(id, SteadyMs() - startMs_ - bridge_.PausedMs()); }
  void TextEntry(bool on) override { bridge_.SetTextEntry(on); }
  std::string Recording(std::int64_t /*gameStartMs*/) override { return {}; }

  // Runs the game; at its end the window thread closes the window.
  void RunGame(const std::function<void(Host&, const ShowNotice&)>& game) {
    try {
      game(*this, [this](WindowNotice notice) { bridge_.PostNotice(std::move(notice)); });
    } catch (const std::exception& e) {
      failure_ = e.what();
    } catch (...) {
      failure_ = "the game stopped on an unknown error";
    }
    bridge_.GameEnded();
  }

  // Read once the game thread has ended.
  const std::string& Failure() const { return failure_; }
  const PassStats& Stats() const { return stats_; }
  std::int64_t StartMs() const { return startMs_; }

 private:
  const WindowOptions& options_;
  ThreadBridge& bridge_;
  SoundPlayer& sound_;  // plays from any thread
  DataFiles& files_;    // the window thread reads only its (fixed) location
  const std::int64_t startMs_;
  PassStats stats_;
  Pacer pacer_;
  std::string failure_;
};

// "Window: 1200 frames shown, 59.9 per second"
std::string WindowReport(std::int64_t presents, std::int64_t sinceMs) {
  const double s = static_cast<double>(SteadyMs() - sinceMs) / 1000.0;
  char line[120];
  std::snprintf(line, sizeof line, "Window: %lld frames shown, %.1f per second\n", static_cast<long long>(presents),
                s > 0 ? static_cast<double>(presents) / s : 0.0);
  return line;
}

}  // namespace

int RunWindowed(const WindowOptions& options, const std::function<void(Host&)>& game) {
  return RunWindowed(options, [&game](Host& host, const ShowNotice& /*notice*/) { game(host); });
}

int RunWindowed(const WindowOptions& options, const std::function<void(Host&, const ShowNotice&)>& game) {
  // The window's own framebuffer (shared memory on X11), not one emulated with a GL texture:
  // only the changed parts of the picture go to the screen, and no GL driver is woken for them.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Losing the focus ends or pauses the game anyway; a fullscreen window must not minimise on its own.
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
    SoundPlayer sound(options.mute, SoundPlayer::Start::WhenReleased);  // released by the first frame
    DataFiles files(options.dataDir.empty() ? DefaultDataDirectory() : options.dataDir);
    const Uint32 wakeEvent = SDL_RegisterEvents(1);
    ThreadBridge bridge([wakeEvent] {
      SDL_Event e{};
      e.type = wakeEvent;
      SDL_PushEvent(&e);
    });
    WindowLoop loop(options, window, bridge, sound, files.Location());
    SdlHost host(options, bridge, sound, files);
    std::thread gameThread([&] { host.RunGame(game); });
    loop.Run(signals, deadline);
    if (signals.Seen()) deadline.Arm();  // a signal after the game had ended by itself
    gameThread.join();
    SDL_HideWindow(window);
    loop.FinishScreenshots();
    if (!host.Failure().empty()) {
      std::fprintf(stderr, "quillmarsh-rall: %s\n", host.Failure().c_str());
      code = 1;
    }
    if (options.stats) {
      const WindowPresenter& shown = loop.Presenter();
      std::fputs(
          (host.Stats().Report() + WindowReport(shown.Presents(), host.StartMs()) + LatencyReport(shown.Latencies()))
              .c_str(),
          stderr);
    }
  }
  SDL_DestroyWindow(window);
  SDL_Quit();
  return code;
}

}  // namespace qr
