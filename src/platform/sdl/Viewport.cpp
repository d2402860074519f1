#include "platform/sdl/Viewport.hpp"

#include <algorithm>

#include "platform/Surface.hpp"

namespace qr {

namespace {

constexpr int kW = Surface::kWidth;
constexpr int kH = Surface::kHeight;

}  // namespace

Viewport FitPlayfield(int areaW, int areaH) {
  Viewport v;
  if (areaW <= 0 || areaH <= 0) return v;
  v.scale = std::min(areaW / kW, areaH / kH);
  if (v.scale > 0) {
    v.w = kW * v.scale;
    v.h = kH * v.scale;
  } else if (static_cast<long long>(areaW) * kH <= static_cast<long long>(areaH) * kW) {
    // Narrower than the playfield's shape: full width.
    v.w = areaW;
    v.h = std::max(1, static_cast<int>(static_cast<long long>(areaW) * kH / kW));
  } else {
    v.h = areaH;
    v.w = std::max(1, static_cast<int>(static_cast<long long>(areaH) * kW / kH));
  }
  v.x = (areaW - v.w) / 2;
  v.y = (areaH - v.h) / 2;
  return v;
}

int StartScale(int requested, int usableW, int usableH) {
  if (requested > 0) return requested;
  for (int s = 4; s > 1; --s) {
    if (kW * s <= usableW && kH * s <= usableH) return s;
  }
  return 1;
}

}  // namespace qr
