#pragma once
#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hosts/sdl/FocusGrace.hpp"
#include "hosts/sdl/FocusPause.hpp"
#include "hosts/sdl/PadInput.hpp"
#include "hosts/sdl/Screenshot.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/sdl/Signals.hpp"
#include "hosts/sdl/SoundPlayer.hpp"
#include "hosts/sdl/ThreadBridge.hpp"
#include "hosts/sdl/WindowPresenter.hpp"
#include "hosts/shared/InputQueue.hpp"

namespace qr {

class EndDeadline;

// A window of the default scale: smaller, and moved, when with the window manager's frame it
// does not fit the usable part of its display. Some systems know the frame once the window is
// made; X11 only a moment after it is shown. False while the frame is not known.
bool FitToDesktop(SDL_Window* window);

// The window thread: SDL's events, the keys and pads as the game's input, the game's requests
// of the window, and the frames shown. Everything here belongs to the thread that runs Run; the
// game thread reaches it through the bridge alone.
class WindowLoop {
 public:
  // screenshotDir: where F12 saves (the data directory).
  WindowLoop(const WindowOptions& options, SDL_Window* window, ThreadBridge& bridge, SoundPlayer& sound,
             std::string screenshotDir);
  WindowLoop(const WindowLoop&) = delete;
  WindowLoop& operator=(const WindowLoop&) = delete;

  // Wakes for window events and the game thread's requests, and otherwise once per refresh of
  // the display to show the game's newest frame; returns once the game has ended. A quit signal
  // closes the window, and from then on the game has a limited time to end.
  void Run(QuitSignals& signals, EndDeadline& deadline);
  // Waits for the screenshots still being written.
  void FinishScreenshots() { screenshots_.Finish(); }
  const WindowPresenter& Presenter() const { return presenter_; }

 private:
  void Carry(const WindowRequest& r);
  void Show(const WindowNotice& notice);
  void Handle(const SDL_Event& e);
  void HandleWindowEvent(const SDL_WindowEvent& w);
  void HandleKeyDown(const SDL_KeyboardEvent& k);
  void HandleKeyUp(const SDL_KeyboardEvent& k);
  void HandlePausedEvent(const SDL_Event& e);
  // The focus is lost for good: the game ends, or with --pause-when-unfocused it pauses.
  void LoseFocus();
  void GoOn();
  // The window is closed: the game ends at once, paused or not.
  void End(InputEvent::Kind kind);
  // Hands the input waiting to the game, unless the game is paused.
  void Post();
  void FollowEntry();
  void ToggleFullscreen();
  void SaveScreenshotNow();

  const WindowOptions& options_;
  SDL_Window* window_;
  ThreadBridge& bridge_;
  SoundPlayer& sound_;
  const std::string screenshotDir_;
  InputQueue pending_;  // handed to the bridge after each event
  KeyInput keys_{pending_};
  PadInput pads_{keys_.Held()};
  FocusGrace focus_;
  FocusPause pause_;
  WindowPresenter presenter_;
  std::vector<InputEvent> scratch_;
  bool altEnterDown_ = false;
  bool keysShown_ = false;
  std::int64_t fitUntil_ = 0;     // until then, the window is fitted to the desktop once its frame is known
  ScreenshotWriter screenshots_;  // last: the first to finish
};

}  // namespace qr
