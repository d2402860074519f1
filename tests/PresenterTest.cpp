// What the window sends to the screen: the strips of a frame that changed, the frame scaled
// into the window's picture, and the picture while the game sends none (the pause's banner).
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "hosts/sdl/ThreadBridge.hpp"
#include "hosts/sdl/Viewport.hpp"
#include "hosts/sdl/WindowPresenter.hpp"
#include "machine/Font.hpp"
#include "machine/Surface.hpp"

namespace qr {
namespace {

constexpr int kW = Surface::kWidth;
constexpr int kH = Surface::kHeight;
using Indices = std::vector<std::uint8_t>;
using Palette = std::array<std::uint32_t, 256>;

Palette TestPalette() {
  Palette p{};
  for (int i = 0; i < 256; ++i) p[i] = static_cast<std::uint32_t>(i * 0x010203);
  return p;
}

bool Covered(const std::vector<UnitRect>& strips, int x, int y) {
  for (const UnitRect& r : strips) {
    if (x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1) return true;
  }
  return false;
}

TEST(ChangedStrips, NoChangeNoStrip) {
  const Indices frame(kW * kH, 3);
  EXPECT_TRUE(ChangedStrips(frame, TestPalette(), frame, TestPalette()).empty());
}

TEST(ChangedStrips, EveryChangedUnitIsCoveredAndFarApartChangesStaySeparate) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> xs(0, kW - 1), ys(0, kH - 1), colours(0, 5);
  for (int round = 0; round < 50; ++round) {
    Indices before(kW * kH, 0);
    for (auto& v : before) v = static_cast<std::uint8_t>(colours(rng));
    Indices after = before;
    const int changes = 1 + round * 3;
    for (int i = 0; i < changes; ++i) after[static_cast<std::size_t>(ys(rng)) * kW + xs(rng)] ^= 1;
    const auto strips = ChangedStrips(before, TestPalette(), after, TestPalette());
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        if (before[static_cast<std::size_t>(y) * kW + x] != after[static_cast<std::size_t>(y) * kW + x]) {
          ASSERT_TRUE(Covered(strips, x, y)) << "unit " << x << "," << y << " changed but is not sent";
        }
      }
    }
    for (const UnitRect& r : strips) {
      EXPECT_GE(r.x0, 0);
      EXPECT_LE(r.x1, kW - 1);
      EXPECT_LE(r.y1, kH - 1);
      EXPECT_EQ(r.y0 % 8, 0);
    }
  }
}

TEST(ChangedStrips, TwoPaddlesMovingMakeTwoNarrowStrips) {
  Indices before(kW * kH, 0);
  Indices after = before;
  for (int y = 100; y <= 140; ++y) {
    for (int x = 13; x <= 17; ++x) after[static_cast<std::size_t>(y) * kW + x] = 1;
    for (int x = 302; x <= 306; ++x) after[static_cast<std::size_t>(y) * kW + x] = 1;
  }
  const auto strips = ChangedStrips(before, TestPalette(), after, TestPalette());
  int units = 0;
  for (const UnitRect& r : strips) {
    EXPECT_LE(r.x1 - r.x0, 4) << "a strip spans the field between the paddles";
    units += (r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
  }
  EXPECT_LE(units, 2 * 5 * 48);  // the 41 rows fall into at most six bands
}

TEST(ChangedStrips, APaletteChangeSendsEverythingThatIsDrawn) {
  const Indices frame(kW * kH, 2);
  Palette other = TestPalette();
  other[2] = 0xABCDEF;
  const auto strips = ChangedStrips(frame, TestPalette(), frame, other);
  for (int y = 0; y < kH; y += 7) {
    for (int x = 0; x < kW; x += 5) EXPECT_TRUE(Covered(strips, x, y));
  }
}

// The window's picture as ScaleFrame paints it, with room around the viewport.
struct Picture {
  Picture(int width, int height) : w(width), h(height), pixels(static_cast<std::size_t>(width) * height, 0) {}
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * w + x]; }
  std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(pixels.data()); }
  int Pitch() const { return w * 4; }
  int w, h;
  std::vector<std::uint32_t> pixels;
};

TEST(ScaleFrame, EachUnitBecomesAScaleByScaleBlockAtTheViewport) {
  Indices frame(kW * kH);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7 % 251);
  const Palette palette = TestPalette();
  for (int scale : {1, 2, 3}) {
    Picture picture(kW * scale + 10, kH * scale + 6);
    const Viewport v = FitPlayfield(picture.w, picture.h);
    ASSERT_EQ(v.scale, scale);
    ScaleFrame(frame, palette, v, UnitRect{0, 0, kW - 1, kH - 1}, picture.Bytes(), picture.Pitch());
    for (int y = 0; y < picture.h; ++y) {
      for (int x = 0; x < picture.w; ++x) {
        const bool inside = x >= v.x && x < v.x + v.w && y >= v.y && y < v.y + v.h;
        const std::uint32_t want =
            inside ? 0xFF000000u | palette[frame[static_cast<std::size_t>((y - v.y) / scale) * kW + (x - v.x) / scale]]
                   : 0u;
        ASSERT_EQ(picture.At(x, y), want) << "scale " << scale << " pixel " << x << "," << y;
      }
    }
  }
}

TEST(ScaleFrame, ARegionPaintsOnlyItsOwnBlocks) {
  const Indices frame(kW * kH, 9);
  Picture picture(kW * 2, kH * 2);
  const Viewport v = FitPlayfield(picture.w, picture.h);
  ScaleFrame(frame, TestPalette(), v, UnitRect{10, 16, 12, 23}, picture.Bytes(), picture.Pitch());
  for (int y = 0; y < picture.h; ++y) {
    for (int x = 0; x < picture.w; ++x) {
      const bool inRegion = x >= 20 && x < 26 && y >= 32 && y < 48;
      EXPECT_EQ(picture.At(x, y) != 0, inRegion) << x << "," << y;
    }
  }
}

TEST(ScaleFrame, AWindowSmallerThanThePlayfieldShowsItShrunk) {
  Indices frame(kW * kH, 1);
  for (int x = 0; x < kW; ++x) frame[static_cast<std::size_t>(kH - 1) * kW + x] = 4;  // the last row
  Picture picture(200, 100);
  const Viewport v = FitPlayfield(picture.w, picture.h);
  ASSERT_EQ(v.scale, 0);
  ScaleFrame(frame, TestPalette(), v, UnitRect{}, picture.Bytes(), picture.Pitch());
  EXPECT_EQ(picture.At(v.x, v.y), 0xFF000000u | TestPalette()[1]);
  EXPECT_EQ(picture.At(v.x + v.w - 1, v.y + v.h - 1), 0xFF000000u | TestPalette()[1]);
  EXPECT_EQ(picture.At(v.x - 1, v.y), 0u);  // nothing outside the viewport
}

TEST(PauseBanner, DrawnInColoursTheFrameDoesNotUseOrNotAtAll) {
  Indices frame(kW * kH);
  Palette palette{};
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i % 200);
  for (int i = 0; i < 200; ++i) palette[i] = 0x010101u * static_cast<std::uint32_t>(i);
  Indices banner = frame;
  Palette bannerPalette = palette;
  DrawBanner(banner, bannerPalette, PauseBannerLines());
  std::array<int, 256> count{};
  for (std::size_t at = 0; at < frame.size(); ++at) {
    if (banner[at] != frame[at]) ++count[banner[at]];
  }
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(count[i], 0) << "drawn in colour " << i << " of the frame";
    EXPECT_EQ(bannerPalette[i], palette[i]);
  }
  EXPECT_EQ(std::count_if(count.begin(), count.end(), [](int n) { return n > 0; }), 3) << "box, edge and text";

  // A frame with no colour to spare is left as it is.
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i % 256);
  banner = frame;
  DrawBanner(banner, bannerPalette, PauseBannerLines());
  EXPECT_EQ(banner, frame);
}

// While the game sends no frames (paused, or waiting for the window), the newest frame stays on
// the screen; the pause's banner, or another, comes and goes over it.
TEST(WindowPresenter, WithoutNewFramesTheNewestStaysAndTheBannerComesAndGoes) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_Window* window = SDL_CreateWindow("test", 0, 0, kW * 2, kH * 2, SDL_WINDOW_HIDDEN);
  ASSERT_NE(window, nullptr) << SDL_GetError();
  {
    ThreadBridge bridge([] {});
    WindowPresenter presenter(window);
    const Font font(10, 96);
    Surface surface(font);
    surface.Cls();
    std::int64_t now = 1000;
    auto turns = [&](int n, const Frame& want, const char* what) {
      for (int i = 0; i < n; ++i) {
        presenter.Present(bridge, 0, now += 1000);
        EXPECT_TRUE(presenter.Shown() == want) << what << ", turn " << i;
      }
    };
    surface.Line(10, 10, 50, 50, 0xFFFFFF);
    bridge.PostFrame(surface);
    presenter.Present(bridge, 0, now);
    const Frame first = presenter.Shown();
    ASSERT_FALSE(first.indices.empty());
    surface.Line(100, 100, 150, 150, 0x00FF00);
    bridge.PostFrame(surface);
    Frame newest;
    newest.indices = surface.Indices();
    newest.palette = surface.Palette();
    ASSERT_FALSE(newest == first);
    turns(3, newest, "no new frame");
    presenter.ShowPaused(true);
    Frame banner = newest;
    DrawBanner(banner.indices, banner.palette, PauseBannerLines());
    turns(3, banner, "paused");
    presenter.ShowPaused(false);
    turns(2, newest, "going on");
  }
  SDL_DestroyWindow(window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace
}  // namespace qr
