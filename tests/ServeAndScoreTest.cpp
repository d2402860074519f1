// Serving, scoring, the bonus, the score line and the end of a game.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "GameKit.hpp"

namespace qr {
namespace {

using namespace kit;

class MatchTest : public ::testing::Test {
 protected:
  // Runs the rally loop; watch gets the number of every pass (1, 2, ...) and returns false to
  // stop. Returns true when the loop returned by itself.
  bool Passes(const std::function<bool(int)>& watch) { return RallyPasses(s, watch); }
  // Runs body, counting its sleeps; watch gets the number of every sleep.
  int Sleeps(const std::function<void()>& body, const std::function<void(int)>& watch = {}) {
    int n = 0;
    RunWatched(s, body, [&] {
      ++n;
      if (watch) watch(n);
      return true;
    });
    return n;
  }
  // High-score tables that no score of these tests can enter, so that a finished game goes
  // straight back to the attract mode whatever the initials entry does.
  void UnbeatableTables() {
    for (int i = 1; i <= 5; ++i) {
      P::hiScores(g)[i].score = 30000;
      P::hiScores2P(g)[i].score = 30000;
    }
  }

  StartedGame s;
  frmRallex& g = s.game;
};

// ---- The start of a game and the serve ----

TEST_F(MatchTest, GetReadyHoldsTheBallForTwoSecondsWhateverThePaddlesDo) {
  NewGame(s, 2);
  g.GetReady();
  EXPECT_TRUE(RowShows(P::form(g), 7, "Get Ready"));
  const std::int16_t startX = P::ballX(g);
  const std::int16_t startDir = g.ballDir;
  Down(s, kA);
  Down(s, kDown);
  int startedAt = 0;
  bool bannerUntilThen = true;
  Passes([&](int pass) {
    if (!g.movingBall) {
      EXPECT_FALSE(g.waitForServe);
      bannerUntilThen = bannerUntilThen && RowShows(P::form(g), 7, "Get Ready");
    } else if (startedAt == 0) {
      startedAt = pass;
      EXPECT_TRUE(RowEmpty(P::form(g), 7)) << "the banner is removed";
    }
    return pass < startedAt + 1 || startedAt == 0;
  });
  EXPECT_EQ(startedAt, 201);  // the hand-over of pass 201 comes 2000 ms after the banner
  EXPECT_TRUE(bannerUntilThen);
  EXPECT_LT(g.p1y0, 100);  // the paddles did move meanwhile
  // The ball leaves from where the reset put it, in the direction it chose.
  EXPECT_EQ(g.ballDir, startDir);
  EXPECT_EQ(P::ballX(g), startX + (startDir > 0 ? 5 : -5));
}

struct AnnouncementCase {
  std::int16_t players;
  std::int32_t p1, p2;
  std::int16_t server;
  std::string row6, row7, row8;
};

TEST_F(MatchTest, ServeAnnouncementLayouts) {
  const std::string left = "<--  Player 1 Serving";
  const std::string right = "Player 2 Serving  -->";
  const AnnouncementCase cases[] = {
      {2, 4, 2, 1, left, "", "Ahead by  2"},
      {2, 4, 2, 2, right, "", "Down by  2"},
      {2, 2, 3, 2, right, "", "Ahead by  1"},
      {2, 3, 2, 2, right, "", "Down by  1"},
      {2, 5, 2, 2, right, "", "GAME POINT"},
      {2, 2, 5, 1, left, "", "GAME POINT"},
      {2, 6, 3, 2, right, "", "GAME POINT"},
      {2, 3, 6, 1, left, "", "GAME POINT"},
      {2, 3, 3, 1, "", left, ""},
      {2, 0, 0, 2, "", right, ""},
      {1, 25, 1, 1, "", left, ""},
      {1, 0, 2, 2, "", right, ""},
  };
  for (const AnnouncementCase& c : cases) {
    NewGame(s, c.players);
    g.p1Score = c.p1;
    g.p2Score = c.p2;
    g.DspServingStatus(c.server);
    const std::string what = std::to_string(c.players) + " players, " + std::to_string(c.p1) + "-" +
                             std::to_string(c.p2) + ", server " + std::to_string(c.server);
    const auto& lines = P::msgLines(g);
    EXPECT_EQ(lines[6], c.row6) << what;
    EXPECT_EQ(lines[7], c.row7) << what;
    EXPECT_EQ(lines[8], c.row8) << what;
    const std::string* rows[3] = {&c.row6, &c.row7, &c.row8};
    for (int r = 0; r < 3; ++r) {
      if (rows[r]->empty()) {
        EXPECT_TRUE(RowEmpty(P::form(g), 6 + r)) << what << ", row " << 6 + r;
      } else {
        EXPECT_TRUE(RowShows(P::form(g), 6 + r, *rows[r])) << what;
      }
    }
    EXPECT_TRUE(P::tmrServe(g).Enabled());
    EXPECT_EQ(P::tmrServe(g).Interval(), 1500);
  }
}

struct ServeCase {
  bool player1Serves;
  int key;
  std::int16_t dir;
};

TEST_F(MatchTest, ServerServesByMovingAfterTheAnnouncementOnly) {
  const ServeCase cases[] = {{true, kA, 3}, {true, kZ, 4}, {false, kUp, -3}, {false, kDown, -4}};
  for (const ServeCase& c : cases) {
    NewGame(s, 2);
    if (c.player1Serves) {
      g.ScoreP2();  // player 2 won the point: player 1 serves from the left
    } else {
      g.ScoreP1();
    }
    const std::string what = "key " + std::to_string(c.key);
    Down(s, c.key);  // held from the start of the announcement
    int waitAt = 0;
    int servedAt = 0;
    bool announcementGone = false;
    Passes([&](int pass) {
      if (g.waitForServe && waitAt == 0) {
        waitAt = pass;
        announcementGone = RowEmpty(P::form(g), 6) && RowEmpty(P::form(g), 7) && RowEmpty(P::form(g), 8);
      }
      if (g.movingBall && servedAt == 0) {
        servedAt = pass;
        EXPECT_EQ(g.ballDir, c.dir) << what;
        EXPECT_EQ(P::ballX(g), c.player1Serves ? 23 : 296) << what;
        EXPECT_EQ(P::ballY(g), c.player1Serves ? g.p1Center : g.p2Center) << what;
      }
      return servedAt == 0 && pass < 1000;
    });
    Up(s, c.key);
    EXPECT_EQ(waitAt, 151) << what;  // the announcement stays 1500 ms
    EXPECT_TRUE(announcementGone) << what;
    EXPECT_EQ(servedAt, waitAt + 1) << what;
  }
}

TEST_F(MatchTest, OnlyTheServersPaddleServes) {
  NewGame(s, 2);
  g.ScoreP2();     // player 1 serves
  Down(s, kDown);  // player 2 moves all the time
  int waitAt = 0;
  int servedAt = 0;
  Passes([&](int pass) {
    if (g.waitForServe && waitAt == 0) waitAt = pass;
    if (g.movingBall && servedAt == 0) servedAt = pass;
    return servedAt == 0 && pass < 2000;
  });
  Up(s, kDown);
  EXPECT_EQ(g.p2y0, 164);                 // player 2's paddle went all the way down
  EXPECT_EQ(servedAt - waitAt + 1, 300);  // served by itself on the 300th pass of the wait
  EXPECT_GE(g.ballDir, 1);
  EXPECT_LE(g.ballDir, 6);
}

TEST_F(MatchTest, OnePlayerServesComeByTimeOutAfter150Passes) {
  for (const bool computerServes : {true, false}) {
    NewGame(s, 1);
    P::ballX(g) = computerServes ? 296 : 23;
    g.DspServingStatus(computerServes ? 2 : 1);
    int waitAt = 0;
    int servedAt = 0;
    Passes([&](int pass) {
      if (g.waitForServe && waitAt == 0) waitAt = pass;
      if (waitAt != 0 && servedAt == 0) {
        EXPECT_EQ(g.p2Center, 120) << "the computer rests while it serves";
      }
      if (g.movingBall && servedAt == 0) servedAt = pass;
      return servedAt == 0 && pass < 1000;
    });
    EXPECT_EQ(servedAt - waitAt + 1, 150);
    if (computerServes) {
      EXPECT_GE(g.ballDir, -6);
      EXPECT_LE(g.ballDir, -1);
    } else {
      EXPECT_GE(g.ballDir, 1);
      EXPECT_LE(g.ballDir, 6);
    }
  }
}

TEST_F(MatchTest, TimeOutServeIsRandomAndOverridesAMoveOnTheSamePass) {
  NewGame(s, 2);
  std::set<int> left;
  std::set<int> right;
  for (int i = 0; i < 120; ++i) {
    const bool p1 = i % 2 == 0;
    P::ballX(g) = p1 ? 23 : 296;
    PlaceP1(g, 80);
    PlaceP2(g, 150);
    g.waitForServe = true;
    g.movingBall = false;
    g.waitForServeTimeout = 1;
    g.p1Moving = -5;  // both would serve with code 3 on this pass
    g.p2Moving = -5;
    g.TestForServe();
    EXPECT_FALSE(g.waitForServe);
    EXPECT_TRUE(g.movingBall);
    EXPECT_EQ(P::ballY(g), p1 ? 80 : 150);  // the ball leaves from the server's paddle centre
    (p1 ? left : right).insert(g.ballDir);
  }
  EXPECT_EQ(left, (std::set<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(right, (std::set<int>{-6, -5, -4, -3, -2, -1}));

  // Before the time-out a move serves with its own code, and the count still goes down.
  P::ballX(g) = 23;
  g.waitForServe = true;
  g.movingBall = false;
  g.waitForServeTimeout = 10;
  g.p1Moving = 5;
  g.TestForServe();
  EXPECT_EQ(g.ballDir, 4);
  EXPECT_TRUE(g.movingBall);
  EXPECT_EQ(g.waitForServeTimeout, 9);
}

// ---- Points ----

TEST_F(MatchTest, TwoPlayerGameEndsAtALeadOfFour) {
  struct Case {
    std::int32_t p1, p2;
    bool toPlayer1;
    bool ends;
  };
  const Case cases[] = {{6, 3, true, true},   {5, 3, true, false}, {3, 6, false, true},
                        {3, 5, false, false}, {9, 6, true, true},  {3, 3, false, false}};
  for (const Case& c : cases) {
    NewGame(s, 2);
    g.p1Score = c.p1;
    g.p2Score = c.p2;
    g.movingBall = true;
    g.missedBall = true;
    P::msgLines(g)[8] = "untouched";
    if (c.toPlayer1) {
      g.ScoreP1();
    } else {
      g.ScoreP2();
    }
    const std::string what = std::to_string(c.p1) + "-" + std::to_string(c.p2);
    EXPECT_EQ(g.p1Score, c.p1 + (c.toPlayer1 ? 1 : 0)) << what;
    EXPECT_EQ(g.p2Score, c.p2 + (c.toPlayer1 ? 0 : 1)) << what;
    EXPECT_FALSE(g.movingBall);
    EXPECT_FALSE(g.missedBall);
    EXPECT_EQ(g.endGame, c.ends) << what;
    EXPECT_EQ(P::tmrServe(g).Enabled(), !c.ends) << what;  // a serve is announced only if play goes on
    if (c.ends) {
      EXPECT_EQ(P::msgLines(g)[8], "untouched") << what;
    } else {
      EXPECT_EQ(P::ballX(g), c.toPlayer1 ? 296 : 23) << what;  // the loser serves
    }
  }
}

TEST_F(MatchTest, OnePlayerGameEndsWithTheThirdLostPaddle) {
  NewGame(s, 1);
  const Surface& f = P::form(g);
  const int markerX[3] = {15, 23, 31};
  for (int point = 1; point <= 3; ++point) {
    P::tmrServe(g).Enabled(false);
    P::msgLines(g)[7] = "untouched";
    g.ScoreP2();
    EXPECT_EQ(g.p2Score, point);
    EXPECT_EQ(g.paddles, 3 - point);
    if (point < 3) {
      EXPECT_FALSE(g.endGame);
      EXPECT_TRUE(P::tmrServe(g).Enabled());
      EXPECT_EQ(P::ballX(g), 23);
      EXPECT_TRUE(RowShows(f, 7, "<--  Player 1 Serving"));
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Count(f, markerX[i], 220, markerX[i] + 2, 230), i < 3 - point ? 33 : 0) << "marker " << i + 1;
      }
      EXPECT_EQ(Count(f, 220, 0, 318, 24), 0);  // the computer's score is never shown
    } else {
      EXPECT_TRUE(g.endGame);
      EXPECT_FALSE(P::tmrServe(g).Enabled());  // no serve is announced
      EXPECT_EQ(P::msgLines(g)[7], "untouched");
    }
  }
}

TEST_F(MatchTest, DemonstrationPointsNeverEndIt) {
  NewGame(s, 0);
  for (int i = 0; i < 6; ++i) g.ScoreP2();
  EXPECT_EQ(g.paddles, 3);
  EXPECT_FALSE(g.endGame);
  EXPECT_EQ(g.p2Score, 6);
}

TEST_F(MatchTest, BonusesGrowByFive) {
  NewGame(s, 1);
  g.p1Score = 3;
  const std::size_t sounds = s.platform.Sounds().size();
  std::vector<int> scores;
  for (int i = 0; i < 3; ++i) {
    const std::int64_t t0 = s.platform.NowMs();
    EXPECT_EQ(Sleeps([&] { g.ScoreP1(); }), 200);
    EXPECT_EQ(s.platform.NowMs() - t0, 2000);
    scores.push_back(g.p1Score);
    EXPECT_FALSE(g.endGame);
    EXPECT_EQ(P::ballX(g), 296);  // the computer serves next
    EXPECT_EQ(P::msgLines(g)[7], "Player 2 Serving  -->");
  }
  EXPECT_EQ(scores, (std::vector<int>{13, 28, 48}));
  EXPECT_EQ(g.p1Bonus, 25);
  EXPECT_EQ(g.p2Score, 0);
  const std::vector<std::string> bonusSounds(s.platform.Sounds().begin() + static_cast<std::ptrdiff_t>(sounds),
                                             s.platform.Sounds().end());
  EXPECT_EQ(bonusSounds, (std::vector<std::string>{"SNDBONUS", "SNDBONUS", "SNDBONUS"}));
}

TEST_F(MatchTest, BonusTextBlinksSixTicksOnThreeOff) {
  NewGame(s, 1);
  g.p1Bonus = 15;
  std::vector<bool> visible;
  bool textRight = false;
  Sleeps([&] { g.Player1Bonus(); },
         [&](int tick) {
           visible.push_back(!RowEmpty(P::form(g), 7));
           if (tick == 1) textRight = RowShows(P::form(g), 7, "BONUS  15 POINTS");
         });
  ASSERT_EQ(visible.size(), 200u);
  EXPECT_TRUE(textRight);
  for (std::size_t i = 0; i < visible.size(); ++i) {
    EXPECT_EQ(visible[i], i % 9 < 6) << "tick " << i + 1;
  }
  EXPECT_EQ(g.p1Score, 15);
  EXPECT_EQ(P::form(g).ForeColor(), kSilver);
}

TEST_F(MatchTest, EscOrLostFocusDuringTheBonusAwardsNothing) {
  for (const bool esc : {true, false}) {
    NewGame(s, 1);
    g.p1Score = 7;
    P::exitRequested(g) = false;
    const int sleeps = Sleeps([&] { g.ScoreP1(); },
                              [&](int tick) {
                                if (tick == 50) esc ? Tap(s, kEsc) : LoseFocus(s);
                              });
    // Esc is polled after the sleep of tick 50; the focus loss arrives at the hand-over of tick 51.
    EXPECT_EQ(sleeps, esc ? 50 : 51);
    EXPECT_EQ(g.p1Score, 7);
    EXPECT_EQ(g.p1Bonus, 10);
    EXPECT_TRUE(g.endGame);
    EXPECT_TRUE(P::exitRequested(g));
    // The point still goes on to announce the computer's serve, as after any bonus.
    EXPECT_EQ(P::ballX(g), 296);
    EXPECT_TRUE(P::tmrServe(g).Enabled());
  }
}

TEST_F(MatchTest, ScoreLineShowsAtLeastTwoDigitsBelow1000) {
  // Printed one after the other without clearing: each must leave exactly its own text.
  const std::pair<std::int32_t, std::string> cases[] = {
      {0, "00"},     {7, "07"},    {123, "123"},  {999, "999"},  {1000, "01"},  {1500, "501"},
      {1998, "999"}, {1999, "01"}, {2997, "999"}, {40000, "40"}, {70000, "70"}, {5, "05"},
  };
  NewGame(s, 2);
  for (const auto& [score, shown] : cases) {
    g.p1Score = score;
    g.p2Score = score;
    g.DspScore();
    EXPECT_TRUE(ShowsText(P::form(g), 5, 5, "Player 1  " + shown, false, 30)) << score;
    EXPECT_TRUE(ShowsText(P::form(g), 225, 5, "Player 2  " + shown, false, 30)) << score;
  }
}

TEST_F(MatchTest, ReturnPointUpdatesTheScoreInPlace) {
  NewGame(s, 1);
  P::form(g).PSet(160, 120);  // something else on the playfield stays
  g.p1Score = 4;
  g.DspScore();
  ASSERT_TRUE(ShowsText(P::form(g), 5, 5, "Player 1  04"));
  g.ScoreP1_1Player();
  EXPECT_EQ(g.p1Score, 5);
  EXPECT_TRUE(ShowsText(P::form(g), 5, 5, "Player 1  05", false, 30));
  g.p1Score = 999;
  g.DspScore();
  g.ScoreP1_1Player();
  EXPECT_TRUE(ShowsText(P::form(g), 5, 5, "Player 1  01", false, 30));
  EXPECT_EQ(P::form(g).Pixel(160, 120), kSilver);
}

// ---- The end of a game ----

TEST_F(MatchTest, GameOverNamesTheWinnerPausesAndReturnsToAttract) {
  UnbeatableTables();
  for (const bool player1Wins : {true, false}) {
    NewGame(s, 2);
    g.p1Score = player1Wins ? 7 : 3;
    g.p2Score = player1Wins ? 3 : 7;
    g.endGame = true;
    int sleeps = 0;
    std::int64_t pause = 0;
    bool shownDuringPause = false;
    const std::int64_t t0 = s.platform.NowMs();
    RunWatched(
        s, [&] { g.GameOver(); },
        [&] {
          if (++sleeps == 1) {
            const Surface& f = P::form(g);
            shownDuringPause = RowShows(f, 6, player1Wins ? "Player 1 Is The Winner" : "Player 2 Is The Winner") &&
                               RowEmpty(f, 7) && RowShows(f, 8, "Game Over");
          }
          if (sleeps == 300) pause = s.platform.NowMs() - t0;
          return true;
        });
    EXPECT_TRUE(shownDuringPause);
    EXPECT_EQ(pause, 3000);
    EXPECT_FALSE(g.endGame);
    EXPECT_EQ(g.numPlayers, 0);
    EXPECT_EQ(g.p1Score, player1Wins ? 7 : 3);  // the final scores stay
    EXPECT_EQ(g.p2Score, player1Wins ? 3 : 7);
  }
}

TEST_F(MatchTest, OnePlayerGameOverShowsOneLineAndNoPaddles) {
  UnbeatableTables();
  NewGame(s, 1);  // three markers drawn
  ASSERT_EQ(Count(P::form(g), 0, 215, 160, 238), 3 * 33);
  g.paddles = 0;
  g.p1Score = 9;
  g.endGame = true;
  bool shown = false;
  RunWatched(
      s, [&] { g.GameOver(); },
      [&] {
        const Surface& f = P::form(g);
        shown = RowEmpty(f, 6) && RowShows(f, 7, "Game Over") && RowEmpty(f, 8) && Count(f, 0, 215, 160, 238) == 0 &&
                ShowsText(f, 5, 5, "Player 1  09");
        return false;
      });
  EXPECT_TRUE(shown);
}

TEST_F(MatchTest, EscHeldAtTheEndSkipsThePause) {
  NewGame(s, 1);
  g.paddles = 0;
  g.endGame = true;
  Down(s, kEsc);
  const std::int64_t t0 = s.platform.NowMs();
  g.GameOver();
  EXPECT_EQ(s.platform.NowMs(), t0);  // the first tick sees Esc before it sleeps
  EXPECT_TRUE(RowShows(P::form(g), 7, "Game Over"));
  EXPECT_TRUE(P::exitRequested(g));
  EXPECT_EQ(g.numPlayers, 1);
  EXPECT_TRUE(g.endGame);
  Up(s, kEsc);
}

TEST_F(MatchTest, GameOverShowsNothingOnceExitIsRequested) {
  NewGame(s, 2);
  g.p1Score = 7;
  g.endGame = true;
  P::exitRequested(g) = true;
  const std::vector<std::uint8_t> before = P::form(g).Indices();
  const std::int64_t t0 = s.platform.NowMs();
  g.GameOver();
  EXPECT_EQ(P::form(g).Indices(), before);
  EXPECT_EQ(s.platform.NowMs(), t0);
  EXPECT_EQ(g.numPlayers, 2);
}

TEST_F(MatchTest, EscOrLostFocusInTheGameOverPauseEndsIt) {
  for (const bool esc : {true, false}) {
    NewGame(s, 2);
    g.p1Score = 7;
    g.endGame = true;
    P::exitRequested(g) = false;
    const int sleeps = Sleeps([&] { g.GameOver(); },
                              [&](int tick) {
                                if (tick == 100) esc ? Tap(s, kEsc) : LoseFocus(s);
                              });
    EXPECT_EQ(sleeps, 100);  // tick 101 sees it after its hand-over, before its sleep
    EXPECT_TRUE(P::exitRequested(g));
    EXPECT_EQ(g.numPlayers, 2);  // no high-score check, no return to the attract mode
    EXPECT_TRUE(g.endGame);
  }
}

TEST_F(MatchTest, DecidingPointEndsTheLoopThroughGameOver) {
  UnbeatableTables();
  NewGame(s, 2);
  g.p1Score = 6;
  g.p2Score = 3;
  int pointAt = 0;
  int lastPass = 0;
  const bool returned = Passes([&](int pass) {
    lastPass = pass;
    if (pass == 10) {  // the ball leaves on the right at the next pass
      g.movingBall = true;
      PlaceBall(g, 323, 120, 3);
      g.missedBall = true;
    }
    if (g.endGame && pointAt == 0) pointAt = pass;
    return pass < 2000;
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(pointAt, 11);
  EXPECT_EQ(lastPass, 12);  // the pause of game over sleeps inside pass 12
  EXPECT_EQ(g.p1Score, 7);
  EXPECT_EQ(g.numPlayers, 0);
  EXPECT_FALSE(g.endGame);
  EXPECT_EQ(P::msgLines(g)[6], "Player 1 Is The Winner");
}

TEST_F(MatchTest, LosingFocusDuringARallyEndsTheGameWithoutItsTexts) {
  NewGame(s, 2);
  g.movingBall = true;
  PlaceBall(g, 160, 120, 3);
  P::msgLines(g)[8] = "untouched";
  int lastPass = 0;
  const bool returned = Passes([&](int pass) {
    lastPass = pass;
    P::ballX(g) = 160;
    if (pass == 150) LoseFocus(s);
    return pass < 1000;
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(lastPass, 201);  // delivered at the mark of pass 201, seen at the top of pass 202
  EXPECT_TRUE(P::exitRequested(g));
  EXPECT_EQ(P::msgLines(g)[8], "untouched");
  EXPECT_EQ(g.numPlayers, 2);
}

}  // namespace
}  // namespace qr
