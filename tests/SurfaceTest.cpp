// The drawing surface: round-capped strokes, discs, boxes, clipping, the clear and the
// background picture, and the ball drawn and erased on the playfield.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "Probe.hpp"
#include "machine/Surface.hpp"

namespace qr {

namespace {

using PixelSet = std::set<std::pair<int, int>>;  // (x, y)

constexpr std::uint32_t kSilverRgb = 0xC0C0C0;

// Every pixel of the given colour.
PixelSet PixelsOf(const Surface& s, std::uint32_t rgb) {
  PixelSet out;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      if (s.Pixel(x, y) == rgb) out.insert({x, y});
    }
  }
  return out;
}

// A second, floating-point description of the stroke: the pixel centres within w/2 of the
// segment, clipped to the surface.
PixelSet ReferenceStroke(int x0, int y0, int x1, int y1, int width) {
  PixelSet out;
  const double r = width / 2.0;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      const double dx = x1 - x0;
      const double dy = y1 - y0;
      const double len2 = dx * dx + dy * dy;
      double t = len2 == 0 ? 0 : ((x - x0) * dx + (y - y0) * dy) / len2;
      t = std::clamp(t, 0.0, 1.0);
      const double cx = x0 + t * dx;
      const double cy = y0 + t * dy;
      if (std::hypot(x - cx, y - cy) <= r + 1e-9) out.insert({x, y});
    }
  }
  return out;
}

// The set drawn by rows: for each y, the inclusive span [from, to].
PixelSet Rows(const std::vector<std::array<int, 3>>& rows) {
  PixelSet out;
  for (const auto& [y, from, to] : rows) {
    for (int x = from; x <= to; ++x) out.insert({x, y});
  }
  return out;
}

PixelSet Shift(const PixelSet& set, int dx, int dy) {
  PixelSet out;
  for (auto [x, y] : set) out.insert({x + dx, y + dy});
  return out;
}

// A surface on a plain black field (no background picture), in silver.
struct BlackField {
  BlackField() : font(10, 96), surface(font) { surface.ForeColor(kSilverRgb); }
  Font font;
  Surface surface;
};

}  // namespace

TEST(Rasteriser, DiscsOfWidthOneThreeFiveAndEight) {
  BlackField f;
  Surface& s = f.surface;
  s.DrawWidth(1);
  s.PSet(50, 50);
  EXPECT_EQ(PixelsOf(s, kSilverRgb), PixelSet({{50, 50}}));

  // Width 3: the centres within 1.5 of the point are the full 3 x 3 square.
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.DrawWidth(3);
  s.PSet(50, 50);
  EXPECT_EQ(PixelsOf(s, kSilverRgb), Rows({{49, 49, 51}, {50, 49, 51}, {51, 49, 51}}));

  // Width 5: the 5 x 5 square without its four corners.
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.DrawWidth(5);
  s.PSet(50, 50);
  EXPECT_EQ(PixelsOf(s, kSilverRgb), Rows({{48, 49, 51}, {49, 48, 52}, {50, 48, 52}, {51, 48, 52}, {52, 49, 51}}));

  // Width 8: radius 4, so the pixels exactly 4 away in a straight line belong to it.
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.DrawWidth(8);
  s.PSet(50, 50);
  EXPECT_EQ(PixelsOf(s, kSilverRgb), Rows({{46, 50, 50},
                                           {47, 48, 52},
                                           {48, 47, 53},
                                           {49, 47, 53},
                                           {50, 46, 54},
                                           {51, 47, 53},
                                           {52, 47, 53},
                                           {53, 48, 52},
                                           {54, 50, 50}}));
}

TEST(Rasteriser, WidthFiveLinesHaveRoundCaps) {
  BlackField f;
  Surface& s = f.surface;
  s.DrawWidth(5);

  s.Line(10, 20, 30, 20);
  const PixelSet horizontal = Rows({{18, 9, 31}, {19, 8, 32}, {20, 8, 32}, {21, 8, 32}, {22, 9, 31}});
  EXPECT_EQ(PixelsOf(s, kSilverRgb), horizontal);

  // The same segment drawn from the other end, and its transpose.
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.Line(30, 20, 10, 20);
  EXPECT_EQ(PixelsOf(s, kSilverRgb), horizontal);
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.Line(20, 10, 20, 30);
  PixelSet vertical;
  for (auto [x, y] : horizontal) vertical.insert({y, x});
  EXPECT_EQ(PixelsOf(s, kSilverRgb), vertical);

  // Diagonal: the band |x - y| <= 3 between the ends, round at both ends.
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.Line(10, 10, 20, 20);
  const PixelSet diagonal = PixelsOf(s, kSilverRgb);
  EXPECT_EQ(diagonal, ReferenceStroke(10, 10, 20, 20, 5));
  for (int x = 0; x < 40; ++x) EXPECT_EQ(diagonal.count({x, 15}) == 1, x >= 12 && x <= 18) << "x " << x;
  EXPECT_TRUE(diagonal.count({8, 9}));  // in the end cap: 2.24 from (10, 10)
  EXPECT_FALSE(diagonal.count({8, 8}));
  EXPECT_TRUE(diagonal.count({13, 10}));
  EXPECT_FALSE(diagonal.count({14, 10}));
}

TEST(Rasteriser, StrokesOfManyShapesMatchTheDistanceRule) {
  BlackField f;
  Surface& s = f.surface;
  struct Case {
    int x0, y0, x1, y1, width;
  };
  const Case cases[] = {
      {40, 40, 47, 61, 5}, {100, 30, 60, 33, 4},    {5, 200, 90, 150, 8}, {150, 150, 150, 150, 7},
      {70, 70, 71, 90, 2}, {200, 100, 260, 101, 1}, {0, 0, 0, 0, 6},      {120, 20, 124, 19, 3},
  };
  for (const Case& c : cases) {
    s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
    s.DrawWidth(c.width);
    s.Line(c.x0, c.y0, c.x1, c.y1);
    EXPECT_EQ(PixelsOf(s, kSilverRgb), ReferenceStroke(c.x0, c.y0, c.x1, c.y1, c.width))
        << "(" << c.x0 << "," << c.y0 << ")-(" << c.x1 << "," << c.y1 << ") width " << c.width;
  }
  // Level and upright lines and points are filled as spans of their own: random ones, also
  // reaching past the edges, against the same rule.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> xs(-10, Surface::kWidth + 10);
  std::uniform_int_distribution<int> ys(-10, Surface::kHeight + 10);
  std::uniform_int_distribution<int> widths(1, 9);
  std::uniform_int_distribution<int> kind(0, 2);
  for (int round = 0; round < 45; ++round) {
    int x0 = xs(rng), y0 = ys(rng), x1 = xs(rng), y1 = ys(rng);
    const int k = kind(rng);
    if (k == 0) y1 = y0;
    if (k == 1) x1 = x0;
    if (k == 2) x1 = x0, y1 = y0;
    const int width = widths(rng);
    s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
    s.DrawWidth(width);
    s.Line(x0, y0, x1, y1);
    EXPECT_EQ(PixelsOf(s, kSilverRgb), ReferenceStroke(x0, y0, x1, y1, width))
        << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ") width " << width;
  }
}

TEST(Rasteriser, ClipsAtTheEdgesWithoutWrapping) {
  BlackField f;
  Surface& s = f.surface;
  s.DrawWidth(5);
  struct Case {
    int x0, y0, x1, y1;
  };
  // Lines along, across and beyond every edge; the grid of start-up runs to 319 and 240.
  const Case cases[] = {{0, 0, 319, 0},
                        {0, 240, 319, 240},
                        {316, 0, 316, 239},
                        {-50, 120, 400, 120},
                        {160, -100, 160, 400},
                        {-30, -30, 350, 270},
                        {318, 5, 330, 5},
                        {-3, 100, -3, 110},
                        {-100, -100, -10, -10},
                        {400, 300, 500, 300},
                        {1, 0, 1, 239},
                        {-32768, 0, 32767, 238},
                        {-32768, 318, 318, -32768},
                        {-32768, 32767, 32767, -32768}};
  for (const Case& c : cases) {
    s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
    s.Line(c.x0, c.y0, c.x1, c.y1);
    EXPECT_EQ(PixelsOf(s, kSilverRgb), ReferenceStroke(c.x0, c.y0, c.x1, c.y1, 5))
        << "(" << c.x0 << "," << c.y0 << ")-(" << c.x1 << "," << c.y1 << ")";
  }
  // Discs half outside.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {318, 238}, {-3, 50}, {321, 50}, {100, -4}}) {
    s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
    s.DrawWidth(8);
    s.PSet(x, y);
    EXPECT_EQ(PixelsOf(s, kSilverRgb), ReferenceStroke(x, y, x, y, 8)) << "disc at " << x << "," << y;
  }
  // Off-surface reads are black.
  EXPECT_EQ(s.Pixel(-1, 0), 0u);
  EXPECT_EQ(s.Pixel(Surface::kWidth, 0), 0u);
}

TEST(Rasteriser, BoxesOutlinedAndFilled) {
  BlackField f;
  Surface& s = f.surface;
  s.DrawWidth(1);
  s.Box(10, 20, 14, 23, kSilverRgb, false);
  EXPECT_EQ(PixelsOf(s, kSilverRgb),
            Rows({{20, 10, 14}, {21, 10, 10}, {21, 14, 14}, {22, 10, 10}, {22, 14, 14}, {23, 10, 14}}));

  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.Box(14, 23, 10, 20, 0x00FF00, true);  // corners in either order
  EXPECT_EQ(PixelsOf(s, 0x00FF00), Rows({{20, 10, 14}, {21, 10, 14}, {22, 10, 14}, {23, 10, 14}}));
  // A colour given with the call does not become the drawing colour.
  EXPECT_EQ(s.ForeColor(), kSilverRgb);

  // The score area box of a game reaches past the bottom edge.
  s.Box(0, 215, 160, 240, kSilverRgb, true);
  EXPECT_EQ(s.Pixel(0, 238), kSilverRgb);
  EXPECT_EQ(s.Pixel(160, 215), kSilverRgb);
  EXPECT_EQ(s.Pixel(161, 238), 0u);
}

TEST(Rasteriser, LineInAGivenColourKeepsTheDrawingColour) {
  BlackField f;
  Surface& s = f.surface;
  s.DrawWidth(5);
  s.Line(10, 10, 50, 10);
  s.Line(10, 10, 50, 10, 0);  // erased by drawing it again in black
  EXPECT_TRUE(PixelsOf(s, kSilverRgb).empty());
  s.PSet(100, 100);
  EXPECT_EQ(s.Pixel(100, 100), kSilverRgb);
}

TEST(Background, BarsAndADimLogoOnBlack) {
  const std::vector<std::uint32_t> bg = ComposeBackground();
  ASSERT_EQ(bg.size(), static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight);
  auto at = [&](int x, int y) { return bg[static_cast<std::size_t>(y) * Surface::kWidth + x]; };
  auto blue = [](std::uint32_t c) { return (c & 0xFF) > ((c >> 16) & 0xFF) + 0x40 && (c & 0xFF) >= 0x80; };

  const std::uint32_t bar = at(13, 28);
  EXPECT_TRUE(blue(bar)) << std::hex << bar;
  for (int top : {28, 208}) {
    for (int y = top; y <= top + 4; ++y) {
      for (int x = 13; x <= 306; ++x) ASSERT_EQ(at(x, y), bar) << x << "," << y;
      EXPECT_EQ(at(12, y), 0u);
      EXPECT_EQ(at(307, y), 0u);
    }
    for (int x = 0; x < Surface::kWidth; ++x) {
      EXPECT_FALSE(blue(at(x, top - 1))) << x;
      EXPECT_FALSE(blue(at(x, top + 5))) << x;
    }
  }

  // The logo stands between the bars, in dim colours that play never uses; the rest is black.
  int logo = 0;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      const std::uint32_t c = at(x, y);
      if (c == 0 || c == bar) continue;
      ++logo;
      EXPECT_GT(y, 32);
      EXPECT_LT(y, 208);
      const int brightest = std::max({(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF});
      EXPECT_LT(brightest, 0x80) << std::hex << c;
    }
  }
  EXPECT_GT(logo, 500);
  // Centred: the logo's pixels weigh evenly on both halves.
  long sumX = 0;
  for (int y = 33; y < 208; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      if (at(x, y) != 0) sumX += x;
    }
  }
  EXPECT_NEAR(static_cast<double>(sumX) / logo, 159.0, 12.0);
}

TEST(Background, ClearAndBlackShowThePictureAgain) {
  HeadlessMachine platform(HeadlessOptions{});
  Surface& s = platform.surface();
  const std::vector<std::uint32_t> bg = ComposeBackground();
  std::vector<std::uint32_t> rgb(bg.size());
  s.ToRgb(rgb.data());
  EXPECT_EQ(rgb, bg);

  s.ForeColor(kSilverRgb);
  s.DrawWidth(5);
  for (int y = 0; y <= 240; y += 40) s.Line(0, y, 319, y);
  s.CurrentX = 100;
  s.CurrentY = 100;
  s.Print("Get Ready");
  s.ToRgb(rgb.data());
  EXPECT_NE(rgb, bg);

  // Drawing the same in black erases it and gives the picture under it back, logo and bars too.
  s.ForeColor(0);
  for (int y = 0; y <= 240; y += 40) s.Line(0, y, 319, y);
  s.CurrentX = 100;
  s.CurrentY = 100;
  s.Print("Get Ready");
  s.ToRgb(rgb.data());
  EXPECT_EQ(rgb, bg);
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  s.ToRgb(rgb.data());
  EXPECT_EQ(rgb, bg);

  s.ForeColor(kSilverRgb);
  s.Line(0, 120, 319, 120);
  s.Cls();
  s.ToRgb(rgb.data());
  EXPECT_EQ(rgb, bg);
  EXPECT_EQ(s.CurrentX, 0);
  EXPECT_EQ(s.CurrentY, 0);
  // The drawing state survives the clear.
  EXPECT_EQ(s.ForeColor(), kSilverRgb);
  EXPECT_EQ(s.DrawWidth(), 5);
}

// The ball on the playfield: wherever it goes within its range, moving it leaves no trace and
// never bites into the border lines or the paddle lines.
TEST(BallDrawing, LeavesNothingBehindAndSparesTheLines) {
  StartedGame s;
  frmRallex& g = s.game;
  Surface& form = RallexProbe::form(g);
  // A black field, so that every silver pixel is something drawn.
  form.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
  form.ForeColor(kSilverRgb);
  form.DrawWidth(5);
  // Paddles at the ends of their tracks and in the middle.
  g.p1y0 = 36;
  g.p1y1 = 76;
  g.p2y0 = 164;
  g.p2y1 = 204;
  form.Line(15, 30, 304, 30);
  form.Line(15, 210, 304, 210);
  form.Line(g.p1x0, g.p1y0, g.p1x1, g.p1y1);
  form.Line(g.p2x0, g.p2y0, g.p2x1, g.p2y1);
  const PixelSet lines = PixelsOf(form, kSilverRgb);
  ASSERT_FALSE(lines.empty());

  // The ball's shape: a disc of width 5 and four discs of width 3 two units off the centre.
  PixelSet shape = ReferenceStroke(100, 100, 100, 100, 5);
  for (auto [dx, dy] : std::vector<std::pair<int, int>>{{0, -2}, {0, 2}, {-2, 0}, {2, 0}}) {
    const PixelSet dot = ReferenceStroke(100 + dx, 100 + dy, 100 + dx, 100 + dy, 3);
    shape.insert(dot.begin(), dot.end());
  }
  shape = Shift(shape, -100, -100);

  RallexProbe::ballX(g) = 160;
  RallexProbe::ballY(g) = 120;
  std::vector<std::pair<int, int>> path;
  for (int y : {37, 38, 120, 202, 203}) {
    for (int x : {22, 23, 160, 296, 297}) path.push_back({x, y});
  }
  // A few flights along the rebound rows and columns.
  for (int x = 22; x <= 297; x += 5) path.push_back({x, 37});
  for (int y = 37; y <= 203; y += 3) path.push_back({297, y});
  for (int x = 297; x >= 22; x -= 7) path.push_back({x, 203});
  for (int y = 203; y >= 37; y -= 4) path.push_back({22, y});
  for (auto [x, y] : path) {
    g.Ball(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
    PixelSet expected = lines;
    for (auto p : Shift(shape, x, y)) expected.insert(p);
    ASSERT_EQ(PixelsOf(form, kSilverRgb), expected) << "ball at " << x << "," << y;
  }
  EXPECT_EQ(form.DrawWidth(), 5);
  EXPECT_EQ(form.ForeColor(), kSilverRgb);
}

}  // namespace qr
