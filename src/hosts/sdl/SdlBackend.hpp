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

// Opens the window and runs game(host) on a thread of its own while this thread pumps the
// window system's events and presents the frames. Returns the process exit code; without a
// display it says so in one line and returns 1.
int RunWindowed(const WindowOptions& options, const std::function<void(Host&)>& game);

}  // namespace qr
