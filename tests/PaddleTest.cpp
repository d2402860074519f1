// The paddles: moves clamped to the track, the track wiped on every move, and the geometry kept
// whole.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "GameKit.hpp"

namespace qr {
namespace {

using namespace kit;

class PaddleTest : public ::testing::Test {
 protected:
  void SetUp() override { NewGame(s, 2); }
  StartedGame s;
  frmRallex& g = s.game;
};

TEST_F(PaddleTest, HoldingUpFromTheMiddleStopsAtTheTopOfTheTrack) {
  std::vector<int> tops;
  for (int pass = 0; pass < 15; ++pass) {
    g.MoveP1(-5);
    tops.push_back(g.p1y0);
  }
  EXPECT_EQ(tops, (std::vector<int>{95, 90, 85, 80, 75, 70, 65, 60, 55, 50, 45, 40, 36, 36, 36}));
  EXPECT_EQ(g.p1y1, 76);
  EXPECT_EQ(g.p1Center, 56);
  EXPECT_EQ(g.p1Moving, -5);  // the step asked for, although the paddle stayed
}

TEST_F(PaddleTest, ClampsAtBothEnds) {
  PlaceP2(g, 180);  // bottom 200
  g.MoveP2(5);
  EXPECT_EQ(g.p2y0, 164);
  EXPECT_EQ(g.p2y1, 204);
  EXPECT_EQ(g.p2Center, 184);
  EXPECT_EQ(g.p2Moving, 5);
  PlaceP1(g, 62);  // top 42, at the fastest paddle speed
  g.MoveP1(-7);
  EXPECT_EQ(g.p1y0, 36);
  EXPECT_EQ(g.p1y1, 76);
  EXPECT_EQ(g.p1Center, 56);
  PlaceP1(g, 63);  // top 43: 36 is reached without the clamp
  g.MoveP1(-7);
  EXPECT_EQ(g.p1y0, 36);
  PlaceP2(g, 177);  // bottom 197: 204 exactly
  g.MoveP2(7);
  EXPECT_EQ(g.p2y1, 204);
}

TEST_F(PaddleTest, GeometryStaysWholeAndOnTheTrack) {
  // Any run of moves of 5, 6 or 7 either way keeps bottom = top + 40, centre = top + 20.
  Random rnd(99);
  for (int i = 0; i < 3000; ++i) {
    const auto step = static_cast<std::int16_t>((5 + rnd.Below(3)) * (rnd.Below(2) == 0 ? -1 : 1));
    if (rnd.Below(2) == 0) {
      g.MoveP1(step);
    } else {
      g.MoveP2(step);
    }
    for (auto [y0, c, y1] : {std::tuple{g.p1y0, g.p1Center, g.p1y1}, std::tuple{g.p2y0, g.p2Center, g.p2y1}}) {
      ASSERT_GE(y0, 36);
      ASSERT_LE(y0, 164);
      ASSERT_EQ(c, y0 + 20);
      ASSERT_EQ(y1, y0 + 40);
    }
  }
  EXPECT_EQ(g.p1x0, 15);
  EXPECT_EQ(g.p2x1, 304);
}

TEST_F(PaddleTest, MoveWipesTheTrackAndRedrawsThePaddle) {
  const Surface& f = P::form(g);
  const int bordersBefore = Count(f, 0, 26, 318, 34) + Count(f, 0, 206, 318, 214);
  // Something standing in player 1's column, and something in player 2's.
  P::form(g).ForeColor(kSilver);
  P::form(g).DrawWidth(8);
  P::form(g).PSet(15, 180);
  P::form(g).PSet(304, 60);
  P::form(g).DrawWidth(3);  // and at both ends of player 1's track
  P::form(g).PSet(15, 35);
  P::form(g).PSet(15, 205);
  P::form(g).DrawWidth(5);
  ASSERT_GT(Count(f, 13, 176, 17, 184), 0);

  g.MoveP1(-5);                                                                     // top 95
  EXPECT_EQ(Count(f, 13, 170, 17, 190), 0);                                         // the ball is gone from the column
  EXPECT_EQ(Count(f, 15, 95, 15, 135), 41);                                         // the paddle stands at 95..135
  EXPECT_EQ(Count(f, 15, 35, 15, 92), 0);                                           // nothing of it above
  EXPECT_EQ(Count(f, 15, 138, 15, 205), 0);                                         // or below
  EXPECT_GT(Count(f, 300, 56, 308, 64), 0);                                         // player 2's column is not touched
  EXPECT_EQ(Count(f, 0, 26, 318, 34) + Count(f, 0, 206, 318, 214), bordersBefore);  // nor the borders

  // At the end of the track the paddle is wiped and drawn again although it does not move.
  for (int i = 0; i < 20; ++i) g.MoveP2(-5);
  P::form(g).ForeColor(kSilver);
  P::form(g).PSet(304, 150);
  g.MoveP2(-5);
  EXPECT_EQ(Count(f, 302, 146, 306, 154), 0);
  EXPECT_EQ(Count(f, 304, 36, 304, 76), 41);
  EXPECT_EQ(P::form(g).ForeColor(), kSilver);
}

}  // namespace
}  // namespace qr
