// The ball: its steps, the paddle and border tests, the rebound zones, the guard against
// endless rallies, the miss, the sounds and its drawing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "GameKit.hpp"
#include "game/rally/BallCodes.hpp"

namespace qr {
namespace {

using namespace kit;

class BallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NewGame(s, 2);
    P::form(g).Cls();  // nothing on the playfield but what a test draws
    PlaceP1(g, 120);
    PlaceP2(g, 120);
  }

  // The sounds requested since the last call.
  std::vector<std::string> NewSounds() {
    const auto& all = s.platform.Sounds();
    std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen), all.end());
    seen = all.size();
    return fresh;
  }

  // One step of a ball placed at (x, y) heading in dir.
  std::int16_t Step(std::int16_t x, std::int16_t y, std::int16_t dir) {
    PlaceBall(g, x, y, dir);
    return g.TickBall();
  }

  // A hit on the left paddle by a ball whose y before the step is y (the step goes one up).
  std::int16_t HitLeft(std::int16_t y) {
    EXPECT_EQ(Step(25, y, -3), kTickLeftReturn);
    return g.ballDir;
  }
  std::int16_t HitRight(std::int16_t y) {
    EXPECT_EQ(Step(294, y, 3), kTickRightReturn);
    return g.ballDir;
  }

  StartedGame s;
  frmRallex& g = s.game;
  std::size_t seen = s.platform.Sounds().size();
};

TEST_F(BallTest, StepsByTheTableOfItsSpeedAndAngle) {
  // (speed, direction) -> the step from the middle of the field.
  const std::tuple<int, int, int, int> cases[] = {
      {1, 3, 5, -1},  {1, -3, -5, -1}, {1, 6, 3, 3},    {1, -1, -3, -3}, {2, 2, 5, -3},
      {2, -5, -5, 3}, {3, 4, 7, 3},    {3, -2, -6, -4}, {3, 1, 5, -5},   {3, -6, -5, 5},
  };
  for (const auto& [speed, dir, dx, dy] : cases) {
    g.ballSpeed = static_cast<std::int16_t>(speed);
    EXPECT_EQ(Step(160, 120, static_cast<std::int16_t>(dir)), kTickNothing);
    EXPECT_EQ(P::ballX(g), 160 + dx) << "speed " << speed << " dir " << dir;
    EXPECT_EQ(P::ballY(g), 120 + dy) << "speed " << speed << " dir " << dir;
    EXPECT_EQ(g.ballDir, dir);
  }
}

TEST_F(BallTest, ApproachToTheLeftPaddleIsTestedOnlyInsideItsLine) {
  PlaceBall(g, 30, 122, -3);
  EXPECT_EQ(g.TickBall(), kTickNothing);  // x 25: not yet at the line
  EXPECT_EQ(P::ballX(g), 25);
  EXPECT_EQ(P::ballY(g), 121);
  EXPECT_EQ(g.TickBall(), kTickLeftReturn);  // x 20 < 23: a hit at y 120 on the centre 120, zone 3
  EXPECT_EQ(g.pHitOfs, 3);
  EXPECT_EQ(P::ballX(g), 22);
  EXPECT_EQ(P::ballY(g), 120);
  EXPECT_EQ(g.ballDir, 3);
  EXPECT_EQ(NewSounds(), std::vector<std::string>{"SNDPADDLE"});
}

TEST_F(BallTest, PaddleLinesStartAt22And297) {
  // Far from both paddles, so reaching a line is a miss.
  EXPECT_EQ(g.CheckBallX(23, 200), kBallXNone);
  EXPECT_FALSE(g.missedBall);
  EXPECT_EQ(g.CheckBallX(296, 200), kBallXNone);
  EXPECT_FALSE(g.missedBall);
  EXPECT_EQ(g.CheckBallX(22, 200), kBallXLeftMiss);
  EXPECT_TRUE(g.missedBall);
  g.missedBall = false;
  EXPECT_EQ(g.CheckBallX(297, 200), kBallXRightMiss);
  EXPECT_TRUE(g.missedBall);
  g.missedBall = false;
  // Within reach of the paddles, the same lines are hits.
  EXPECT_EQ(g.CheckBallX(22, 120), kBallXLeftHit);
  EXPECT_EQ(g.CheckBallX(297, 120), kBallXRightHit);
  EXPECT_FALSE(g.missedBall);
}

TEST_F(BallTest, PaddleReachesSixUnitsBeyondItsEnds) {
  // Left paddle 100..140, right paddle 40..80: each side uses its own paddle.
  PlaceP2(g, 60);
  EXPECT_EQ(g.CheckBallX(20, 146), kBallXLeftHit);
  EXPECT_EQ(g.pHitOfs, 6);
  EXPECT_EQ(g.CheckBallX(20, 94), kBallXLeftHit);
  EXPECT_EQ(g.pHitOfs, 1);
  EXPECT_EQ(g.CheckBallX(300, 86), kBallXRightHit);
  EXPECT_EQ(g.pHitOfs, 6);
  EXPECT_EQ(g.CheckBallX(300, 34), kBallXRightHit);
  EXPECT_EQ(g.pHitOfs, 1);
  EXPECT_EQ(g.CheckBallX(300, 120), kBallXRightMiss);  // in reach of the left paddle, not of the right one
  g.missedBall = false;
  EXPECT_EQ(g.CheckBallX(20, 147), kBallXLeftMiss);
  g.missedBall = false;
  EXPECT_EQ(g.CheckBallX(20, 93), kBallXLeftMiss);
  g.missedBall = false;
  EXPECT_EQ(g.CheckBallX(300, 87), kBallXRightMiss);
  g.missedBall = false;
  EXPECT_EQ(g.CheckBallX(300, 33), kBallXRightMiss);
}

TEST_F(BallTest, ReboundZonesSplitThePaddleAndItsReach) {
  PlaceP1(g, 120);
  PlaceP2(g, 60);
  for (const auto& [x, m] : {std::pair{20, 120}, std::pair{300, 60}}) {
    std::map<int, int> positions;  // zone -> hit positions
    for (int y = m - 30; y <= m + 30; ++y) {
      g.missedBall = false;
      g.pHitOfs = 0;
      const std::int16_t r = g.CheckBallX(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
      if (r == kBallXLeftHit || r == kBallXRightHit) ++positions[g.pHitOfs];
    }
    EXPECT_EQ(positions, (std::map<int, int>{{1, 11}, {2, 8}, {3, 8}, {4, 8}, {5, 8}, {6, 10}})) << "x " << x;
    // Each boundary belongs to the zone above it.
    const std::pair<int, int> edges[] = {{-26, 1}, {-16, 1}, {-15, 2}, {-8, 2}, {-7, 3}, {0, 3},
                                         {1, 4},   {8, 4},   {9, 5},   {16, 5}, {17, 6}, {26, 6}};
    for (const auto& [d, zone] : edges) {
      g.missedBall = false;
      g.CheckBallX(static_cast<std::int16_t>(x), static_cast<std::int16_t>(m + d));
      EXPECT_EQ(g.pHitOfs, zone) << "x " << x << " at m" << (d < 0 ? "" : "+") << d;
    }
  }
}

TEST_F(BallTest, MissedBallFliesOnPastThePaddleUntilOut) {
  // Paddle 100..140; the ball comes in low at y 160 and misses.
  PlaceBall(g, 30, 159, -4);
  EXPECT_EQ(g.TickBall(), kTickNothing);
  EXPECT_EQ(P::ballX(g), 25);
  EXPECT_EQ(g.TickBall(), kTickNothing);  // x 20: the miss itself reports nothing
  EXPECT_TRUE(g.missedBall);
  EXPECT_EQ(P::ballX(g), 20);
  EXPECT_EQ(P::ballY(g), 161);
  // The paddle moves into the ball's way: no longer tested.
  PlaceP1(g, 165);
  std::vector<int> xs;
  std::int16_t r = 0;
  while ((r = g.TickBall()) == kTickNothing) xs.push_back(P::ballX(g));
  EXPECT_EQ(xs, (std::vector<int>{15, 10, 5, 0, -5}));
  EXPECT_EQ(r, kTickPointP2);  // -10 is out on the left: a point for player 2
  EXPECT_EQ(P::ballX(g), -5);  // the ball is not moved on the step that leaves the field
  EXPECT_TRUE(g.missedBall);   // scoring clears it, not the ball
  std::vector<std::string> sounds = NewSounds();
  EXPECT_EQ(sounds, std::vector<std::string>{"SNDMISS"});  // no paddle sound for the late paddle

  // The field ends: -8 and 325 are still in, -9 and 326 out.
  EXPECT_EQ(g.CheckBallX(-8, 120), kBallXNone);
  EXPECT_EQ(g.CheckBallX(-9, 120), kBallXOutLeft);
  EXPECT_EQ(g.CheckBallX(325, 120), kBallXNone);
  EXPECT_EQ(g.CheckBallX(326, 120), kBallXOutRight);
  EXPECT_EQ(g.CheckBallX(160, 120), kBallXNone);
}

TEST_F(BallTest, BordersBounceAt37And203) {
  // Speed 1, angle 3 rises by 1 and angle 4 falls by 1.
  EXPECT_EQ(Step(160, 38, 3), kTickNothing);
  EXPECT_EQ(P::ballY(g), 37);
  EXPECT_EQ(g.ballDir, 4);
  EXPECT_EQ(NewSounds(), std::vector<std::string>{"SNDBORDER"});
  EXPECT_EQ(Step(160, 39, -3), kTickNothing);
  EXPECT_EQ(P::ballY(g), 38);
  EXPECT_EQ(g.ballDir, -3);
  EXPECT_EQ(Step(160, 202, -4), kTickNothing);
  EXPECT_EQ(P::ballY(g), 203);
  EXPECT_EQ(g.ballDir, -3);
  EXPECT_EQ(Step(160, 201, 4), kTickNothing);
  EXPECT_EQ(P::ballY(g), 202);
  EXPECT_EQ(g.ballDir, 4);
  EXPECT_EQ(NewSounds(), std::vector<std::string>{"SNDBORDER"});
  // A step that would cross the border is put back on 37 or 203.
  g.ballSpeed = 3;
  EXPECT_EQ(Step(160, 40, 1), kTickNothing);  // 40 - 5 = 35
  EXPECT_EQ(P::ballY(g), 37);
  EXPECT_EQ(g.ballDir, 6);
  EXPECT_EQ(Step(160, 200, -6), kTickNothing);  // 200 + 5 = 205
  EXPECT_EQ(P::ballY(g), 203);
  EXPECT_EQ(g.ballDir, -1);
}

TEST_F(BallTest, PaddleHitAndBorderInOneStepMirrorTheNewAngle) {
  // Left paddle at the top (36..76): the ball meets it at y 36 in zone 1, then the top border.
  PlaceP1(g, 56);
  EXPECT_EQ(Step(25, 39, -1), kTickLeftReturn);
  EXPECT_EQ(P::ballX(g), 22);
  EXPECT_EQ(P::ballY(g), 37);
  EXPECT_EQ(g.ballDir, 6);
  EXPECT_EQ(NewSounds(), (std::vector<std::string>{"SNDPADDLE", "SNDBORDER"}));
  // The same at the bottom of the right paddle: zone 6 becomes angle 1, heading left.
  PlaceP2(g, 184);
  EXPECT_EQ(Step(294, 201, 6), kTickRightReturn);
  EXPECT_EQ(P::ballX(g), 297);
  EXPECT_EQ(P::ballY(g), 203);
  EXPECT_EQ(g.ballDir, -1);
}

TEST_F(BallTest, SeventhRepeatedHitTurnsTheZone) {
  // y 121 steps to 120: zone 3 on the centre 120. The first hit sets the height.
  EXPECT_EQ(HitLeft(121), 3);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(HitLeft(121), 3) << "repeat " << i;
    EXPECT_EQ(g.infCount, i);
  }
  EXPECT_EQ(HitLeft(121), 4);  // the seventh repeat: zone 3 becomes 4
  EXPECT_EQ(g.infCount, 0);
  EXPECT_EQ(HitLeft(121), 3);  // and the count starts again
  EXPECT_EQ(g.infCount, 1);

  // Zone 4 (y 125 steps to 124) becomes 3; a hit at another height restarts the count.
  EXPECT_EQ(HitLeft(125), 4);
  EXPECT_EQ(g.infCount, 0);
  for (int i = 1; i <= 5; ++i) HitLeft(125);
  EXPECT_EQ(HitLeft(126), 4);  // a new height just before the seventh repeat
  EXPECT_EQ(g.infCount, 0);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(HitLeft(126), 4);
  EXPECT_EQ(HitLeft(126), 3);
}

TEST_F(BallTest, RepeatedHitCountIsSharedByBothSides) {
  EXPECT_EQ(HitLeft(121), 3);
  EXPECT_EQ(HitRight(121), -3);
  int repeats = 0;
  for (int round = 0; round < 3; ++round) {  // six repeats, alternating
    EXPECT_EQ(HitLeft(121), 3);
    EXPECT_EQ(g.infCount, ++repeats);
    EXPECT_EQ(HitRight(121), -3);
    EXPECT_EQ(g.infCount, ++repeats);
  }
  EXPECT_EQ(HitLeft(121), 4);  // the seventh repeat in a row, counted over both sides
  EXPECT_EQ(g.infCount, 0);
  // The height before the step counts, not the height of the hit: 122 with angle 2 also
  // meets the paddle at 120, but is a new height.
  EXPECT_EQ(Step(26, 122, -2), kTickLeftReturn);
  EXPECT_EQ(g.infCount, 0);
}

TEST_F(BallTest, InverseDirMirrorsVerticallyAndKeepsTheSense) {
  const std::pair<int, int> pairs[] = {{1, 6}, {2, 5}, {3, 4}};
  for (const auto& [a, b] : pairs) {
    for (int sign : {1, -1}) {
      EXPECT_EQ(g.InverseDir(static_cast<std::int16_t>(sign * a)), sign * b);
      EXPECT_EQ(g.InverseDir(static_cast<std::int16_t>(sign * b)), sign * a);
    }
  }
}

TEST_F(BallTest, SoundsDependOnTheMode) {
  struct Case {
    std::int16_t players;
    std::vector<std::string> leftOut, rightOut;
    bool steps;  // paddle and border sounds
  };
  const Case cases[] = {{0, {}, {}, false}, {1, {"SNDMISS"}, {}, true}, {2, {"SNDMISS"}, {"SNDMISS"}, true}};
  for (const Case& c : cases) {
    g.numPlayers = c.players;
    NewSounds();
    Step(25, 121, -3);  // paddle
    EXPECT_EQ(NewSounds(), c.steps ? std::vector<std::string>{"SNDPADDLE"} : std::vector<std::string>{});
    Step(160, 38, 3);  // border
    EXPECT_EQ(NewSounds(), c.steps ? std::vector<std::string>{"SNDBORDER"} : std::vector<std::string>{});
    PlaceBall(g, -6, 120, -3);
    g.missedBall = true;
    EXPECT_EQ(g.TickBall(), kTickPointP2);
    EXPECT_EQ(NewSounds(), c.leftOut) << "players " << c.players;
    PlaceBall(g, 323, 120, 3);
    g.missedBall = true;
    EXPECT_EQ(g.TickBall(), kTickPointP1);
    EXPECT_EQ(NewSounds(), c.rightOut) << "players " << c.players;
  }
}

TEST_F(BallTest, BallLeavesNothingBehindAsItFlies) {
  // A long rally: the paddles are kept on the ball, so it returns from both ends and bounces off
  // both borders at every speed. After every step only the ball itself may be silver.
  PlaceBall(g, 160, 120, 2);
  g.Ball(160, 120);
  int hits = 0;
  int bounces = 0;
  for (int step = 0; step < 1500; ++step) {
    g.ballSpeed = static_cast<std::int16_t>(1 + step / 500);
    PlaceP1(g, P::ballY(g));
    PlaceP2(g, static_cast<std::int16_t>(P::ballY(g) + 10));
    const std::int16_t dirBefore = g.ballDir;
    const std::int16_t r = g.TickBall();
    ASSERT_TRUE(r == kTickNothing || r == kTickLeftReturn || r == kTickRightReturn) << "step " << step;
    hits += r != kTickNothing ? 1 : 0;
    bounces += (r == kTickNothing && dirBefore != g.ballDir) ? 1 : 0;
    const int bx = P::ballX(g);
    const int by = P::ballY(g);
    ASSERT_GE(by, 37);
    ASSERT_LE(by, 203);
    const Surface& f = P::form(g);
    const int all = Count(f, 0, 0, Surface::kWidth - 1, Surface::kHeight - 1);
    const int near = Count(f, bx - 3, by - 3, bx + 3, by + 3);
    ASSERT_EQ(all, near) << "left over at step " << step;
    ASSERT_EQ(near, 33) << "the ball's own dots at step " << step;
  }
  EXPECT_GT(hits, 25);
  EXPECT_GT(bounces, 15);
}

TEST_F(BallTest, BallIsAFiveDotCrossErasedByOneBlackDotOfEight) {
  Surface& f = P::form(g);
  g.Ball(100, 100);
  EXPECT_EQ(Count(f, 90, 90, 110, 110), 33);
  for (const auto& [x, y] : {std::pair{100, 100}, std::pair{103, 100}, std::pair{97, 100}, std::pair{100, 103},
                             std::pair{100, 97}, std::pair{102, 101}}) {
    EXPECT_EQ(f.Pixel(x, y), kSilver) << x << ", " << y;
  }
  EXPECT_NE(f.Pixel(104, 100), kSilver);
  EXPECT_NE(f.Pixel(103, 102), kSilver);
  EXPECT_EQ(f.ForeColor(), kSilver);
  EXPECT_EQ(f.DrawWidth(), 5);
  // Over a silver field the erase shows as a disc of diameter 8, 49 pixels, of the background
  // picture under it (here part of the logo and black around it).
  f.ForeColor(kSilver);
  f.Box(60, 60, 140, 140, kSilver, true);
  g.Ball(100, 100);
  g.Ball(200, 100);
  EXPECT_EQ(81 * 81 - Count(f, 60, 60, 140, 140, kSilver), 49);
  const std::vector<std::uint32_t> background = ComposeBackground();
  for (int y = 60; y <= 140; ++y) {
    for (int x = 60; x <= 140; ++x) {
      if (f.Pixel(x, y) != kSilver) {
        ASSERT_EQ(f.Pixel(x, y), background[y * Surface::kWidth + x]) << x << ", " << y;
      }
    }
  }
  EXPECT_NE(f.Pixel(104, 100), kSilver);
  EXPECT_EQ(f.Pixel(105, 100), kSilver);
}

TEST_F(BallTest, BallErasesNeitherBordersNorPaddles) {
  g.Update();
  const Surface& f = P::form(g);
  const int borders = Count(f, 15, 26, 304, 34) + Count(f, 15, 206, 304, 214);
  const int paddles = Count(f, 10, 90, 20, 150) + Count(f, 299, 90, 309, 150);
  // Along the top and the bottom border, and in front of both paddles.
  for (std::int16_t x = 22; x <= 297; x += 5) {
    g.Ball(x, 37);
    g.Ball(x, 203);
  }
  for (std::int16_t y = 37; y <= 203; y += 3) {
    g.Ball(22, y);
    g.Ball(297, y);
  }
  g.Ball(160, 120);  // away from all of them
  EXPECT_EQ(Count(f, 15, 26, 304, 34) + Count(f, 15, 206, 304, 214), borders);
  EXPECT_EQ(Count(f, 10, 90, 20, 150) + Count(f, 299, 90, 309, 150), paddles);
}

TEST_F(BallTest, RandomStartIsAQuarterInAtMidHeightHeadingAway) {
  std::set<std::tuple<int, int, int>> starts;
  for (int i = 0; i < 200; ++i) {
    g.SetRandomBallDirStart();
    starts.insert({P::ballX(g), P::ballY(g), g.ballDir});
  }
  EXPECT_EQ(starts, (std::set<std::tuple<int, int, int>>{{80, 120, 3}, {80, 120, 4}, {240, 120, -3}, {240, 120, -4}}));
}

}  // namespace
}  // namespace qr
