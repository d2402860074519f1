#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "machine/Host.hpp"

namespace qr {

struct WindowOptions {
  int scale = 0;  // 0: the largest scale up to 4 that fits the desktop
  bool fullscreen = false;
  bool mute = false;
  bool stats = false;
  bool gamepads = true;               // --no-gamepad: false
  bool pauseWhenUnfocused = false;    // a lost focus pauses the game instead of ending it
  std::optional<std::uint64_t> seed;  // none: seeded from the clock
  std::string dataDir;                // empty: the default data directory
};

// A question or a notice over the window (a message box), put up by the window thread. The game
// goes on meanwhile; it only takes no input until the box is closed.
struct WindowNotice {
  std::string title;
  std::string text;
  std::string yes;                         // the default button
  std::string no;                          // empty: a notice with the one button yes
  std::function<void(bool yes)> answered;  // run on the window thread once the box is closed; may be empty
  // Not a box but a banner over the picture, of text, until a banner of no text takes it away;
  // it takes nothing from the game.
  bool banner = false;
};
// Hands a notice to the window thread, from any thread, without waiting for it. Notices still
// waiting when the game ends are not shown.
using ShowNotice = std::function<void(WindowNotice)>;

// Opens the window and runs game(host) on a thread of its own while this thread pumps the
// window system's events and presents the frames. Returns the process exit code; without a
// display it says so in one line and returns 1.
int RunWindowed(const WindowOptions& options, const std::function<void(Host&)>& game);
// The same, with the means to show notices over the window while the game runs.
int RunWindowed(const WindowOptions& options, const std::function<void(Host&, const ShowNotice&)>& game);

}  // namespace qr
