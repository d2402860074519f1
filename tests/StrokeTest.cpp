#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <utility>

#include "Probe.hpp"

namespace qr {
namespace {

// The stroke by its definition: every pixel whose centre lies within width/2 of the segment.
std::set<std::pair<int, int>> ReferenceStroke(int x0, int y0, int x1, int y1, int width) {
  std::set<std::pair<int, int>> inside;
  const double r = width / 2.0;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      const double dx = x1 - x0;
      const double dy = y1 - y0;
      const double len2 = dx * dx + dy * dy;
      double t = len2 == 0 ? 0 : ((x - x0) * dx + (y - y0) * dy) / len2;
      t = t < 0 ? 0 : (t > 1 ? 1 : t);
      const double cx = x0 + t * dx - x;
      const double cy = y0 + t * dy - y;
      if (cx * cx + cy * cy <= r * r + 1e-9) inside.insert({x, y});
    }
  }
  return inside;
}

std::set<std::pair<int, int>> Drawn(const Surface& s) {
  std::set<std::pair<int, int>> drawn;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      if (s.Pixel(x, y) == 0xFFFFFF) drawn.insert({x, y});
    }
  }
  return drawn;
}

TEST(Stroke, MatchesItsDefinitionForRandomLinesPointsAndWidths) {
  Font font(10, 96);
  Surface s(font);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> xs(-10, Surface::kWidth + 10);
  std::uniform_int_distribution<int> ys(-10, Surface::kHeight + 10);
  std::uniform_int_distribution<int> widths(1, 9);
  std::uniform_int_distribution<int> kind(0, 3);
  for (int round = 0; round < 60; ++round) {
    int x0 = xs(rng), y0 = ys(rng), x1 = xs(rng), y1 = ys(rng);
    switch (kind(rng)) {
      case 0:
        y1 = y0;
        break;  // level
      case 1:
        x1 = x0;
        break;  // upright
      case 2:
        x1 = x0, y1 = y0;
        break;  // a point
      default:
        break;  // any slope
    }
    const int width = widths(rng);
    s.Cls();
    s.DrawWidth(width);
    s.Line(x0, y0, x1, y1, 0xFFFFFF);
    EXPECT_EQ(Drawn(s), ReferenceStroke(x0, y0, x1, y1, width))
        << "line (" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ") width " << width;
  }
}

}  // namespace
}  // namespace qr
