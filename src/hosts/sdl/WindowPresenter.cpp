#include "hosts/sdl/WindowPresenter.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

#include "hosts/shared/Gamepads.hpp"
#include "machine/Font.hpp"
#include "machine/Surface.hpp"

namespace qr {

const std::vector<std::string>& PauseBannerLines() {
  static const std::vector<std::string> lines{"PAUSED", "Click or press a key to go on"};
  return lines;
}

void DrawBanner(std::vector<std::uint8_t>& indices, std::array<std::uint32_t, 256>& palette,
                const std::vector<std::string>& lines) {
  constexpr int kW = Surface::kWidth;
  constexpr int kH = Surface::kHeight;
  if (indices.size() != static_cast<std::size_t>(kW * kH) || lines.empty()) return;
  static const Font font(10, 96);  // the game's own, on the window thread
  constexpr int kPad = 6;
  const int lineH = font.Height();
  int textW = 0;
  for (const std::string& line : lines) textW = std::max(textW, font.TextWidth(line));
  const int boxW = std::min(kW, textW + 2 * kPad);
  const int boxH = static_cast<int>(lines.size()) * lineH + 2 * kPad;
  const int x0 = (kW - boxW) / 2;
  const int y0 = (kH - boxH) / 2;

  // Three colours in palette entries the frame does not use.
  std::array<bool, 256> used{};
  for (const std::uint8_t i : indices) used[i] = true;
  std::array<std::uint8_t, 3> spare{};
  std::size_t found = 0;
  for (int i = 255; i >= 0 && found < spare.size(); --i) {
    if (!used[static_cast<std::size_t>(i)]) spare[found++] = static_cast<std::uint8_t>(i);
  }
  if (found < spare.size()) return;
  const auto [fill, edge, text] = spare;
  palette[fill] = 0x000000;
  palette[edge] = 0xC0C0C0;
  palette[text] = 0xFFFFFF;

  auto put = [&](int x, int y, std::uint8_t index) {
    if (x >= 0 && x < kW && y >= 0 && y < kH) indices[static_cast<std::size_t>(y * kW + x)] = index;
  };
  for (int y = y0; y < y0 + boxH; ++y) {
    for (int x = x0; x < x0 + boxW; ++x) {
      const bool border = y == y0 || y == y0 + boxH - 1 || x == x0 || x == x0 + boxW - 1;
      put(x, y, border ? edge : fill);
    }
  }
  int y = y0 + kPad;
  for (const std::string& line : lines) {
    const TextMask& mask = font.Render(line, false);
    const int x = (kW - mask.width) / 2;
    for (const MaskRun& run : mask.runs) {
      for (int i = 0; i < run.len; ++i) put(x + run.x0 + i, y + run.dy, text);
    }
    y += lineH;
  }
}

WindowPresenter::~WindowPresenter() {
  if (canvas_ != nullptr) SDL_FreeSurface(canvas_);
}

bool WindowPresenter::Present(ThreadBridge& bridge, char preview, std::int64_t nowMs) {
  const std::int64_t period = 1000 / RefreshRate();
  bool fresh = false;
  if (!bridge.TakeFrame(nowMs >= nextPresentMs_, raw_, fresh, answered_)) return false;
  nextPresentMs_ = nowMs + period;
  // The picture shown is the game's, with the character the pad would type and the banner over
  // it (the pause's before any other).
  const std::vector<std::string>& banner = paused_ ? PauseBannerLines() : banner_;
  if (fresh || preview != previewShown_ || banner != bannerShown_) {
    incoming_ = raw_;
    incomingNew_ = true;
    previewShown_ = preview;
    bannerShown_ = banner;
    if (preview != 0) DrawPadPreview(incoming_.indices, incoming_.palette, preview);
    DrawBanner(incoming_.indices, incoming_.palette, banner);
  }
  // Without a new picture, incoming_ holds the one shown before it: while the game sends no
  // frames (paused, or waiting for the window) that must not come back.
  const bool changed = incomingNew_ && !incoming_.indices.empty() && incoming_ != shown_;
  if (!changed) incomingNew_ = false;
  const bool first = PresentChanges(changed);
  // The input the game took before drawing this frame is answered now.
  using namespace std::chrono;
  const std::int64_t end = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
  for (const InputQueue::Stamp t : answered_) latencies_.push_back(end - static_cast<std::int64_t>(t));
  answered_.clear();
  return first;
}

bool WindowPresenter::PresentChanges(bool changed) {
  if (!changed && !mustPresent_) return false;

  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (target == nullptr) return false;
  const Viewport fit = FitPlayfield(target->w, target->h);
  const bool whole = mustPresent_ || canvas_ == nullptr || canvas_->w != target->w || canvas_->h != target->h ||
                     fit.x != viewport_.x || fit.y != viewport_.y || fit.w != viewport_.w || fit.h != viewport_.h ||
                     shown_.indices.empty() || fit.scale == 0;
  mustPresent_ = false;
  viewport_ = fit;
  // incoming_ now holds the frame on the screen before (made again from raw_ when needed).
  if (changed) {
    std::swap(shown_, incoming_);
    incomingNew_ = false;
  }
  if (shown_.indices.empty()) return false;

  if (canvas_ == nullptr || canvas_->w != target->w || canvas_->h != target->h) {
    if (canvas_ != nullptr) SDL_FreeSurface(canvas_);
    canvas_ = SDL_CreateRGBSurfaceWithFormat(0, target->w, target->h, 32, SDL_PIXELFORMAT_ARGB8888);
    if (canvas_ == nullptr) return false;
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
  if (rects.empty()) return false;
  SDL_UpdateWindowSurfaceRects(window_, rects.data(), static_cast<int>(rects.size()));
  return ++presents_ == 1;
}

void WindowPresenter::Scale(const UnitRect& region) {
  SDL_LockSurface(canvas_);
  ScaleFrame(shown_.indices, shown_.palette, viewport_, region, static_cast<std::uint8_t*>(canvas_->pixels),
             canvas_->pitch);
  SDL_UnlockSurface(canvas_);
}

int WindowPresenter::RefreshRate() {
  SDL_DisplayMode mode{};
  if (refreshRate_ == 0) {
    const int display = SDL_GetWindowDisplayIndex(window_);
    const bool known = display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 && mode.refresh_rate > 0;
    refreshRate_ = known ? mode.refresh_rate : 60;
  }
  return refreshRate_;
}

}  // namespace qr
