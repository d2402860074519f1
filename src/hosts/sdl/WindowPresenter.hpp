#pragma once
#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hosts/sdl/Screenshot.hpp"
#include "hosts/sdl/ThreadBridge.hpp"
#include "hosts/sdl/Viewport.hpp"

namespace qr {

// Shows the game's frames in the window, on the window thread alone: at most once per refresh
// of the display (without vsync more would never be seen), and only when the picture differs
// from the one on the screen or the window needs painting; a frame that answers input, at once.
// Never waits for the display.
//
// The frame is scaled here, into a canvas the size of the window, and only the strips that
// changed are handed to the window system: in a rally that is the ball and a paddle or two.
// (Scaling the whole frame on the GPU, or with Mesa's software GL where there is none, costs
// more than the game itself.)
class WindowPresenter {
 public:
  explicit WindowPresenter(SDL_Window* window) : window_(window) {}
  ~WindowPresenter();
  WindowPresenter(const WindowPresenter&) = delete;
  WindowPresenter& operator=(const WindowPresenter&) = delete;

  // The window needs painting whole (shown, exposed, resized, fullscreen switched).
  void Repaint() { mustPresent_ = true; }
  // The window moved to another display, whose refresh rate may differ.
  void DisplayChanged() {
    refreshRate_ = 0;
    mustPresent_ = true;
  }
  // The game is paused: a banner says so over the picture (never on the game's surface).
  void ShowPaused(bool paused) { paused_ = paused; }
  // A banner of these lines over the picture while the game is not paused; none when empty.
  void ShowBanner(std::vector<std::string> lines) { banner_ = std::move(lines); }
  // When the next turn to show a frame comes, on the steady clock in milliseconds.
  std::int64_t NextMs() const { return nextPresentMs_; }

  // Shows the game's newest frame from the bridge, if its turn has come or it answers input,
  // with the character preview (0: none) of the pads and the pause's banner over it. True when
  // the window got its very first picture.
  bool Present(ThreadBridge& bridge, char preview, std::int64_t nowMs);

  // The picture on the screen, and its scale (for screenshots).
  const Frame& Shown() const { return shown_; }
  int Scale() const { return viewport_.scale; }
  std::int64_t Presents() const { return presents_; }
  // Microseconds from each key's or pad's event to the frame that answered it.
  const std::vector<std::int64_t>& Latencies() const { return latencies_; }

 private:
  // True when the window got its first picture.
  bool PresentChanges(bool changed);
  void Scale(const UnitRect& region);
  int RefreshRate();

  SDL_Window* window_;
  Frame raw_;                 // the game's newest frame
  Frame incoming_;            // raw_ with the preview and the banner: the picture to show
  bool incomingNew_ = false;  // incoming_ is made anew and not yet shown (else it is the picture shown before)
  Frame shown_;
  char previewShown_ = 0;
  bool paused_ = false;
  std::vector<std::string> banner_;
  std::vector<std::string> bannerShown_;
  std::vector<InputQueue::Stamp> answered_;  // the input the frame being shown answers
  std::vector<std::int64_t> latencies_;
  SDL_Surface* canvas_ = nullptr;  // the scaled picture, the size of the window
  Viewport viewport_;
  bool mustPresent_ = false;
  std::int64_t nextPresentMs_ = 0;
  int refreshRate_ = 0;  // 0: not known yet
  std::int64_t presents_ = 0;
};

// Draws a banner over a frame (its palette indices and palette): a box in the middle of the
// playfield with the lines, in palette entries the frame does not use. The pause's says so and
// how to go on.
void DrawBanner(std::vector<std::uint8_t>& indices, std::array<std::uint32_t, 256>& palette,
                const std::vector<std::string>& lines);
const std::vector<std::string>& PauseBannerLines();

}  // namespace qr
