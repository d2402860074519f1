#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace qr {

// Where the playfield goes in a drawable area of the window: the largest whole scale that fits,
// centred, black around it. When even one pixel per unit does not fit, scale is 0 and the
// playfield is shown shrunk to fit, keeping its shape.
struct Viewport {
  int scale = 0;
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

Viewport FitPlayfield(int areaW, int areaH);

// The scale a new window starts with: the one asked for, or else the largest from 1 to 4 whose
// window fits the usable part of the desktop (1 when none does).
int StartScale(int requested, int usableW, int usableH);

// A rectangle of the desktop, and the frame a window manager puts around a window.
struct DesktopRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};
struct Borders {
  int top = 0;
  int left = 0;
  int bottom = 0;
  int right = 0;
};

// A window of the default scale with its frame on the usable part of the desktop: the largest
// scale from 1 to 4 whose window, frame and all, fits, and where its client area goes (x, y)
// for the frame to be centred in the usable part.
struct WindowPlace {
  int scale = 1;
  int x = 0;
  int y = 0;
};
WindowPlace PlaceWindow(const DesktopRect& usable, const Borders& frame);

// A rectangle of playfield units, x0..x1 by y0..y1 inclusive.
struct UnitRect {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
  bool operator==(const UnitRect&) const = default;
};

// The parts of the playfield that differ between two frames (index buffers of 319 x 239 with
// their palettes), as strips: bands of eight rows, and in each the runs of changed columns,
// runs closer than 16 units taken together. Every changed unit lies in a strip.
std::vector<UnitRect> ChangedStrips(const std::vector<std::uint8_t>& before,
                                    const std::array<std::uint32_t, 256>& beforePalette,
                                    const std::vector<std::uint8_t>& after,
                                    const std::array<std::uint32_t, 256>& afterPalette);

// Paints the units of `region` of a frame into a 32-bit picture (pitch in bytes) at the
// viewport: each unit scale x scale pixels; with scale 0 (a window smaller than the playfield)
// the whole viewport, each pixel taking its nearest unit. Pixels are 0xFFRRGGBB.
void ScaleFrame(const std::vector<std::uint8_t>& indices, const std::array<std::uint32_t, 256>& palette,
                const Viewport& viewport, const UnitRect& region, std::uint8_t* pixels, int pitch);

}  // namespace qr
