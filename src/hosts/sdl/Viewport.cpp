#include "hosts/sdl/Viewport.hpp"

#include <algorithm>

#include "machine/Surface.hpp"

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

std::vector<UnitRect> ChangedStrips(const std::vector<std::uint8_t>& before,
                                    const std::array<std::uint32_t, 256>& beforePalette,
                                    const std::vector<std::uint8_t>& after,
                                    const std::array<std::uint32_t, 256>& afterPalette) {
  std::vector<UnitRect> strips;
  const bool samePalette = beforePalette == afterPalette;
  std::array<bool, kW> columns{};
  for (int y0 = 0; y0 < kH; y0 += 8) {
    const int y1 = std::min(kH, y0 + 8) - 1;
    columns.fill(false);
    bool any = false;
    for (int y = y0; y <= y1; ++y) {
      const std::size_t row = static_cast<std::size_t>(y) * kW;
      if (samePalette && std::equal(after.begin() + row, after.begin() + row + kW, before.begin() + row)) continue;
      for (int x = 0; x < kW; ++x) {
        if (!samePalette || after[row + x] != before[row + x]) columns[x] = any = true;
      }
    }
    if (!any) continue;
    for (int x = 0; x < kW;) {
      if (!columns[x]) {
        ++x;
        continue;
      }
      int last = x;
      for (int next = x + 1; next < kW && next <= last + 16; ++next) {
        if (columns[next]) last = next;
      }
      strips.push_back(UnitRect{x, y0, last, y1});
      x = last + 1;
    }
  }
  return strips;
}

void ScaleFrame(const std::vector<std::uint8_t>& indices, const std::array<std::uint32_t, 256>& palette,
                const Viewport& viewport, const UnitRect& region, std::uint8_t* pixels, int pitch) {
  if (viewport.scale == 0) {
    for (int oy = 0; oy < viewport.h; ++oy) {
      auto* row =
          reinterpret_cast<std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(viewport.y + oy) * pitch) + viewport.x;
      const int sy = oy * kH / viewport.h;
      for (int ox = 0; ox < viewport.w; ++ox) {
        row[ox] = 0xFF000000u | palette[indices[static_cast<std::size_t>(sy) * kW + ox * kW / viewport.w]];
      }
    }
    return;
  }
  const int s = viewport.scale;
  const int width = (region.x1 - region.x0 + 1) * s;
  for (int y = region.y0; y <= region.y1; ++y) {
    auto* first = reinterpret_cast<std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(viewport.y + y * s) * pitch) +
                  viewport.x + region.x0 * s;
    const std::uint8_t* units = indices.data() + static_cast<std::size_t>(y) * kW;
    for (int x = region.x0; x <= region.x1; ++x) {
      const std::uint32_t c = 0xFF000000u | palette[units[x]];
      for (int k = 0; k < s; ++k) first[(x - region.x0) * s + k] = c;
    }
    for (int k = 1; k < s; ++k) {
      std::copy(first, first + width,
                reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(first) + k * pitch));
    }
  }
}

int StartScale(int requested, int usableW, int usableH) {
  if (requested > 0) return requested;
  for (int s = 4; s > 1; --s) {
    if (kW * s <= usableW && kH * s <= usableH) return s;
  }
  return 1;
}

WindowPlace PlaceWindow(const DesktopRect& usable, const Borders& frame) {
  const int roomW = usable.w - frame.left - frame.right;
  const int roomH = usable.h - frame.top - frame.bottom;
  WindowPlace p;
  p.scale = StartScale(0, roomW, roomH);
  p.x = usable.x + frame.left + std::max(0, (roomW - kW * p.scale) / 2);
  p.y = usable.y + frame.top + std::max(0, (roomH - kH * p.scale) / 2);
  return p;
}

}  // namespace qr
