#include "hosts/sdl/WindowPresenter.hpp"

#include <chrono>
#include <utility>

#include "hosts/shared/Gamepads.hpp"
#include "machine/Surface.hpp"

namespace qr {

WindowPresenter::~WindowPresenter() {
  if (canvas_ != nullptr) SDL_FreeSurface(canvas_);
}

bool WindowPresenter::Present(ThreadBridge& bridge, char preview, std::int64_t nowMs) {
  const std::int64_t period = 1000 / RefreshRate();
  bool fresh = false;
  if (!bridge.TakeFrame(nowMs >= nextPresentMs_, raw_, fresh, answered_)) return false;
  nextPresentMs_ = nowMs + period;
  // The picture shown is the game's, with the character the pad would type over it.
  if (fresh || preview != previewShown_) {
    incoming_ = raw_;
    previewShown_ = preview;
    if (preview != 0) DrawPadPreview(incoming_.indices, incoming_.palette, preview);
  }
  const bool changed = !incoming_.indices.empty() && incoming_ != shown_;
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
  if (changed) std::swap(shown_, incoming_);
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
