#pragma once

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

}  // namespace qr
