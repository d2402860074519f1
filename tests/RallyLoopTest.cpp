// The rally loop: leaving it, the players' keys, the computer opponent, the speed steps and the
// hand-over to the window system; and the playfield redraw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "GameKit.hpp"

namespace qr {
namespace {

using namespace kit;

class RallyLoopTest : public ::testing::Test {
 protected:
  // Runs the rally loop; watch is called after every pass with its number (1, 2, ...) and
  // returns false to stop. Returns true when the loop returned by itself.
  bool Passes(const std::function<bool(int)>& watch) { return RallyPasses(s, watch); }
  // Runs n passes.
  void RunPasses(int n) {
    Passes([n](int pass) { return pass < n; });
  }

  StartedGame s;
  frmRallex& g = s.game;
};

TEST_F(RallyLoopTest, EscLeavesAtTheStartOfTheNextPassWithoutGameOver) {
  NewGame(s, 2);
  int last = 0;
  const bool returned = Passes([&](int pass) {
    last = pass;
    if (pass == 250) {
      g.ballSpeed = 3;  // as if the play had sped up
      g.pSpeed = 7;
      Tap(s, kEsc);
      Down(s, kA);
    }
    return pass < 1000;
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(last, 250);  // the 251st pass left before its sleep
  EXPECT_EQ(g.ballSpeed, 1);
  EXPECT_EQ(g.pSpeed, 5);
  EXPECT_EQ(g.p1y0, 100);      // A was not acted on in the pass that left
  EXPECT_EQ(g.numPlayers, 2);  // no game over
  EXPECT_FALSE(g.endGame);
  EXPECT_NE(P::msgLines(g)[8], "Game Over");
  EXPECT_FALSE(P::exitRequested(g));
}

TEST_F(RallyLoopTest, LeavingDisarmsTheStartAndServeTimers) {
  // Abandoned behind "Get Ready": its timer must not start a ball later.
  NewGame(s, 1);
  g.GetReady();
  ASSERT_TRUE(P::tmrGetReady(g).Enabled());
  EXPECT_TRUE(Passes([&](int pass) {
    if (pass == 20) Tap(s, kEsc);
    return pass < 100;
  }));
  EXPECT_FALSE(P::tmrGetReady(g).Enabled());
  s.platform.Sleep(3000);
  s.platform.DoEvents();
  EXPECT_FALSE(g.movingBall);

  // Abandoned during a serve announcement: no wait for a serve begins later.
  NewGame(s, 2);
  P::ballX(g) = 23;
  g.DspServingStatus(1);
  ASSERT_TRUE(P::tmrServe(g).Enabled());
  EXPECT_TRUE(Passes([&](int pass) {
    if (pass == 20) Tap(s, kEsc);
    return pass < 100;
  }));
  EXPECT_FALSE(P::tmrServe(g).Enabled());
  s.platform.Sleep(3000);
  s.platform.DoEvents();
  EXPECT_FALSE(g.waitForServe);
}

TEST_F(RallyLoopTest, KeysPressedBeforeTheLoopAreDiscarded) {
  NewGame(s, 2);
  Tap(s, kA);
  Tap(s, kUp);
  RunPasses(3);
  EXPECT_EQ(g.p1y0, 100);
  EXPECT_EQ(g.p2y0, 100);
  // A tap between two polls still counts once.
  Passes([&](int pass) {
    if (pass == 1) Tap(s, kA);
    return pass < 3;
  });
  EXPECT_EQ(g.p1y0, 95);
}

TEST_F(RallyLoopTest, PlayerKeysMoveThePaddles) {
  NewGame(s, 2);
  // A and Z together: up, then down, in the same pass.
  Down(s, kA);
  Down(s, kZ);
  RunPasses(4);
  EXPECT_EQ(g.p1y0, 100);
  EXPECT_EQ(g.p1Moving, 5);
  // Z and the semicolon key together move down once per pass.
  Up(s, kA);
  Down(s, kSemicolon);
  RunPasses(3);
  EXPECT_EQ(g.p1y0, 115);
  Up(s, kZ);
  RunPasses(2);
  EXPECT_EQ(g.p1y0, 125);
  Up(s, kSemicolon);
  // Up and Down move player 2; both held cancel out.
  Down(s, kUp);
  RunPasses(3);
  EXPECT_EQ(g.p2y0, 85);
  Down(s, kDown);
  RunPasses(3);
  EXPECT_EQ(g.p2y0, 85);
  EXPECT_EQ(g.p2Moving, 5);
  Up(s, kUp);
  Up(s, kDown);

  // In a one-player game the arrows belong to nobody (the ball waits: the computer rests too).
  NewGame(s, 1);
  Down(s, kUp);
  RunPasses(5);
  EXPECT_EQ(g.p2y0, 100);
  Up(s, kUp);
  Down(s, kDown);
  RunPasses(5);
  EXPECT_EQ(g.p2y0, 100);
}

TEST_F(RallyLoopTest, PlaySpeedsUpAtPass1101And2201AndNoFurther) {
  NewGame(s, 2);  // the ball waits for ever: passes count all the same
  int firstAt2 = 0;
  int firstAt3 = 0;
  int highest = 0;
  Passes([&](int pass) {
    EXPECT_EQ(g.pSpeed, g.ballSpeed + 4) << "pass " << pass;
    if (g.ballSpeed == 2 && firstAt2 == 0) firstAt2 = pass;
    if (g.ballSpeed == 3 && firstAt3 == 0) firstAt3 = pass;
    highest = std::max<int>(highest, g.ballSpeed);
    return pass < 3500;
  });
  EXPECT_EQ(firstAt2, 1101);
  EXPECT_EQ(firstAt3, 2201);
  EXPECT_EQ(highest, 3);
  EXPECT_EQ(g.ballSpeed, 3);
}

TEST_F(RallyLoopTest, PointResetsTheSpeedButNotThePassCount) {
  NewGame(s, 2);
  int frameAfterPoint = -1;
  int marksAfterPoint = -1;
  int speedAfterPoint = 0;
  int firstAt2Again = 0;
  Passes([&](int pass) {
    if (pass == 1650) {  // speed 2, five marks on: the ball is about to leave on the left
      EXPECT_EQ(g.ballSpeed, 2);
      EXPECT_EQ(P::speedUpCount(g), 5);
      g.movingBall = true;
      PlaceBall(g, -5, 120, -3);
      g.missedBall = true;
    }
    if (pass == 1651) {
      EXPECT_EQ(g.p2Score, 1);
      speedAfterPoint = g.ballSpeed * 10 + g.pSpeed;
      frameAfterPoint = P::frameCount(g);
      marksAfterPoint = P::speedUpCount(g);
      P::tmrServe(g).Enabled(false);  // keep the ball waiting from here on
    }
    if (pass > 1651 && g.ballSpeed == 2 && firstAt2Again == 0) firstAt2Again = pass;
    return pass < 3000;
  });
  EXPECT_EQ(speedAfterPoint, 15);
  EXPECT_EQ(marksAfterPoint, 0);
  EXPECT_EQ(frameAfterPoint, 50);  // 50 passes after the mark of pass 1601 (counted after the sleep)
  EXPECT_EQ(firstAt2Again, 2701);  // eleven marks after the point, on the same 100-pass grid
}

TEST_F(RallyLoopTest, WindowEventsOnlyAtTheMarksWhileTheBallMoves) {
  // Q held: the coin timer adds a credit at each hand-over where it is due.
  NewGame(s, 2);
  g.movingBall = true;
  PlaceBall(g, 160, 120, 3);
  Down(s, kQ);
  std::vector<int> creditPasses;
  int credits = g.credits;
  Passes([&](int pass) {
    P::ballX(g) = 160;  // the ball flies up and down the middle for ever
    if (g.credits != credits) creditPasses.push_back(pass);
    credits = g.credits;
    return pass < 450;
  });
  EXPECT_EQ(creditPasses, (std::vector<int>{101, 201, 301, 401}));
  EXPECT_TRUE(ShowsText(P::form(g), 210, 217, "Credit 04"));  // the counter follows at once

  // While the ball waits the loop hands over on every pass: a credit every 250 ms.
  g.movingBall = false;
  const std::int16_t before = g.credits;
  RunPasses(450);
  EXPECT_EQ(g.credits - before, 18);  // 450 passes of 10 ms: 4500 ms, a tick every 250 ms
  Up(s, kQ);
}

TEST_F(RallyLoopTest, ComputerSteersOnlyTowardsABallComingItsWay) {
  NewGame(s, 1);
  struct Case {
    int aim, ballY, dir;
    bool moving;
    int move;  // expected change of the computer's paddle
  };
  const Case cases[] = {
      {0, 130, 3, true, 5},   {0, 126, 3, true, 5},    {0, 125, 3, true, 0},   {0, 115, 3, true, 0},
      {0, 114, 3, true, -5},  {10, 136, 3, true, 5},   {10, 135, 3, true, 0},  {10, 125, 3, true, 0},
      {10, 124, 3, true, -5}, {-10, 104, 3, true, -5}, {-10, 105, 3, true, 0}, {0, 180, -3, true, 0},
      {0, 60, -3, true, 0},   {0, 180, 3, false, 0},
  };
  std::size_t next = 0;
  std::vector<int> moves;
  Passes([&](int) {
    if (next > 0) moves.push_back(g.p2Center - 120);
    if (next == std::size(cases)) return false;
    const Case& c = cases[next++];
    PlaceP2(g, 120);
    P::aimOfs(g) = static_cast<std::int16_t>(c.aim);
    g.movingBall = c.moving;
    // Angle 3 rises by one: the ball is at c.ballY when the computer looks.
    PlaceBall(g, 160, static_cast<std::int16_t>(c.ballY + (c.moving ? 1 : 0)), static_cast<std::int16_t>(c.dir));
    return true;
  });
  ASSERT_EQ(moves.size(), std::size(cases));
  for (std::size_t i = 0; i < moves.size(); ++i) {
    EXPECT_EQ(moves[i], cases[i].move) << "aim " << cases[i].aim << ", ball at " << cases[i].ballY << ", dir "
                                       << cases[i].dir << (cases[i].moving ? "" : ", waiting");
  }
}

TEST_F(RallyLoopTest, EveryReturnScoresAndRedrawsTheComputersAim) {
  // Returns in zone 3 draw the aim from -21..21, returns with an edge (zone 1) from -24..24.
  for (const int zone : {3, 1}) {
    NewGame(s, 1);
    g.movingBall = true;
    std::vector<int> aims;
    Passes([&](int pass) {
      if (pass > 1) aims.push_back(P::aimOfs(g));
      // Every pass the player returns the ball, at alternating heights (no repeated-hit guard).
      const int y = (zone == 3 ? 120 : 101) + pass % 2;
      PlaceBall(g, 27, static_cast<std::int16_t>(y), -3);
      return pass < 301;
    });
    EXPECT_EQ(g.p1Score, 300);
    EXPECT_EQ(g.pHitOfs, zone);
    EXPECT_TRUE(ShowsText(P::form(g), 5, 5, "Player 1  300"));
    int largest = 0;
    bool negative = false;
    for (int a : aims) {
      largest = std::max(largest, std::abs(a));
      negative = negative || a < 0;
    }
    EXPECT_TRUE(negative);
    if (zone == 3) {
      EXPECT_EQ(largest, 21);
    } else {
      EXPECT_EQ(largest, 24);
    }
  }
}

TEST_F(RallyLoopTest, UpdateDrawsTheFrameAndTheTitleOrTheScores) {
  for (const int players : {0, 1}) {
    g.numPlayers = static_cast<std::int16_t>(players);
    g.InitVariables();
    P::form(g).Cls();
    g.Update();
    const Surface& f = P::form(g);
    EXPECT_EQ(Count(f, 15, 30, 304, 30), 290);    // top border
    EXPECT_EQ(Count(f, 15, 210, 304, 210), 290);  // bottom border
    EXPECT_EQ(Count(f, 15, 100, 15, 140), 41);    // paddles
    EXPECT_EQ(Count(f, 304, 100, 304, 140), 41);
    const std::string title = "Quillmarsh Rall";
    const bool titleShown = ShowsText(f, 155 - TestFont().TextWidth(title) / 2 - 2, 5, title, true);
    EXPECT_EQ(titleShown, players == 0);
    EXPECT_EQ(static_cast<bool>(ShowsText(f, 5, 5, "Player 1  00")), players == 1);
    EXPECT_TRUE(ShowsText(f, 210, 217, "Credit 00"));
    EXPECT_EQ(f.ForeColor(), kSilver);
  }
}

}  // namespace
}  // namespace qr
