#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Probe.hpp"
#include "game/rally/BallCodes.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {
namespace {

using Sounds = std::vector<std::string>;
const std::string kPaddle = "SNDPADDLE";
const std::string kBorder = "SNDBORDER";
const std::string kMiss = "SNDMISS";
const std::string kBonus = "SNDBONUS";
const std::string kCredit = "SNDCREDIT";

Sounds Since(const HeadlessMachine& p, std::size_t mark) {
  return Sounds(p.Sounds().begin() + static_cast<std::ptrdiff_t>(mark), p.Sounds().end());
}

std::size_t Count(const Sounds& s, const std::string& name) {
  return static_cast<std::size_t>(std::count(s.begin(), s.end(), name));
}

// One step of the ball from a set position, and the sounds it requests in each mode.
struct Situation {
  const char* what;
  std::int16_t x, y, dir;
  bool missed;
  std::int16_t p1Center;  // the left paddle spans p1Center - 20 .. p1Center + 20
  std::int16_t code;
  Sounds attract, onePlayer, twoPlayers;
};

const Situation kSituations[] = {
    {"return by player 1", 25, 120, -3, false, 120, kTickLeftReturn, {}, {kPaddle}, {kPaddle}},
    {"return by player 2 or the computer", 294, 120, 3, false, 120, kTickRightReturn, {}, {kPaddle}, {kPaddle}},
    {"top border", 160, 40, -1, false, 120, kTickNothing, {}, {kBorder}, {kBorder}},
    {"bottom border", 160, 200, 6, false, 120, kTickNothing, {}, {kBorder}, {kBorder}},
    {"return into the top border", 25, 39, -1, false, 52, kTickLeftReturn, {}, {kPaddle, kBorder}, {kPaddle, kBorder}},
    {"ball passing player 1's paddle", 25, 170, -3, false, 120, kTickNothing, {}, {}, {}},
    {"ball out on the left", -5, 120, -3, true, 120, kTickPointP2, {}, {kMiss}, {kMiss}},
    {"ball out on the right", 322, 120, 3, true, 120, kTickPointP1, {}, {}, {kMiss}},
    {"ball in open field", 160, 120, 3, false, 120, kTickNothing, {}, {}, {}},
};

TEST(SoundRequests, EachBallEventSoundsOnlyInAGameAndOnlyWhereItShould) {
  StartedGame s;
  for (const Situation& sit : kSituations) {
    std::int16_t dirAfter[3] = {0, 0, 0};
    std::int16_t yAfter[3] = {0, 0, 0};
    for (std::int16_t players = 0; players <= 2; ++players) {
      SCOPED_TRACE(std::string(sit.what) + ", players " + std::to_string(players));
      frmRallex& g = s.game;
      g.InitVariables();
      g.numPlayers = players;
      g.p1Center = sit.p1Center;
      g.p1y0 = static_cast<std::int16_t>(sit.p1Center - 20);
      g.p1y1 = static_cast<std::int16_t>(sit.p1Center + 20);
      RallexProbe::ballX(g) = sit.x;
      RallexProbe::ballY(g) = sit.y;
      g.ballDir = sit.dir;
      g.missedBall = sit.missed;
      const std::size_t mark = s.platform.Sounds().size();
      EXPECT_EQ(g.TickBall(), sit.code);
      const Sounds& expected = players == 0 ? sit.attract : players == 1 ? sit.onePlayer : sit.twoPlayers;
      EXPECT_EQ(Since(s.platform, mark), expected);
      dirAfter[players] = g.ballDir;
      yAfter[players] = RallexProbe::ballY(g);
    }
    // The ball does the same in every mode; only the sound differs.
    EXPECT_EQ(dirAfter[0], dirAfter[1]) << sit.what;
    EXPECT_EQ(dirAfter[0], dirAfter[2]) << sit.what;
    EXPECT_EQ(yAfter[0], yAfter[1]) << sit.what;
  }
}

TEST(SoundRequests, AMissedBallSoundsOnceWhenItLeavesTheField) {
  StartedGame s;
  frmRallex& g = s.game;
  g.InitVariables();
  g.numPlayers = 1;
  RallexProbe::ballX(g) = 40;
  RallexProbe::ballY(g) = 170;  // below player 1's paddle (100..140)
  g.ballDir = -3;
  const std::size_t mark = s.platform.Sounds().size();
  std::int16_t code = kTickNothing;
  int steps = 0;
  while (code == kTickNothing && steps < 100) {
    code = g.TickBall();
    ++steps;
  }
  EXPECT_EQ(code, kTickPointP2);
  EXPECT_TRUE(g.missedBall);
  EXPECT_EQ(Since(s.platform, mark), Sounds{kMiss});
}

TEST(SoundRequests, TheBonusPlaysItsJingleOnlyInAOnePlayerGame) {
  StartedGame s;
  frmRallex& g = s.game;
  g.InitVariables();
  g.numPlayers = 1;
  std::size_t mark = s.platform.Sounds().size();
  g.ScoreP1();  // the ball got past the computer
  EXPECT_EQ(Since(s.platform, mark), Sounds{kBonus});
  EXPECT_EQ(g.p1Score, 10);

  g.InitVariables();
  g.numPlayers = 2;
  mark = s.platform.Sounds().size();
  g.ScoreP1();
  EXPECT_EQ(Since(s.platform, mark), Sounds{});
  EXPECT_EQ(g.p1Score, 1);
}

HeadlessOptions Scripted(std::vector<ScriptEvent> script, std::int64_t runMs) {
  HeadlessOptions o;
  o.seed = 7;
  o.script = std::move(script);
  o.runMs = runMs;
  return o;
}

ScriptEvent Key(std::int64_t ms, ScriptEvent::Action action, int vk) {
  ScriptEvent e;
  e.ms = ms;
  e.action = action;
  e.vk = vk;
  return e;
}

TEST(SoundRequests, EveryCoinChimesOnceAndNothingElseSounds) {
  using A = ScriptEvent::Action;
  const StartedGame s(Scripted({Key(1000, A::Tap, 81), Key(3000, A::Down, 81), Key(3900, A::Up, 81)}, 6000));
  // One tap, then the key held from 3000 to 3900 ms: the coin timer's ticks at 3000, 3250, 3500
  // and 3750 ms.
  EXPECT_EQ(s.game.credits, 5);
  EXPECT_EQ(s.platform.Sounds(), Sounds(static_cast<std::size_t>(s.game.credits), kCredit));
}

TEST(SoundRequests, QuittingStopsAnySound) {
  const StartedGame s(Scripted({Key(2000, ScriptEvent::Action::Tap, vk::kEsc)}, 60000));
  ASSERT_TRUE(s.exited);
  EXPECT_EQ(s.platform.Sounds(), Sounds{""});
}

TEST(SoundRequests, TheAttractRallyIsSilent) {
  int bounces = 0;
  std::int16_t lastDir = 0;
  const StartedGame s(Scripted({}, 300000), [&](StartedGame& run) {
    if (run.game.ballDir != lastDir) ++bounces;
    lastDir = run.game.ballDir;
  });
  EXPECT_GT(bounces, 100);  // five minutes of rally went on
  const Sounds& sounds = s.platform.Sounds();
  EXPECT_EQ(Count(sounds, kPaddle) + Count(sounds, kBorder) + Count(sounds, kMiss), 0u);
}

// A whole one-player game in which player 1 never moves: a coin, the start, and then the
// computer wins three points. Each of them sounds the miss; each miss of the computer plays
// the bonus jingle instead.
TEST(SoundRequests, AOnePlayerGameSoundsLikeOne) {
  using A = ScriptEvent::Action;
  std::size_t soundsAtEnd = 0;
  std::int16_t bonusAtEnd = 0;
  std::int16_t paddlesAtEnd = -1;
  const StartedGame s(Scripted({Key(500, A::Tap, 81), Key(1500, A::Tap, 49)}, 30 * 60 * 1000), [&](StartedGame& run) {
    if (run.game.endGame && paddlesAtEnd < 0) {
      soundsAtEnd = run.platform.Sounds().size();
      bonusAtEnd = run.game.p1Bonus;
      paddlesAtEnd = run.game.paddles;
      run.platform.SetRunMs(run.platform.NowMs());
    }
  });
  ASSERT_EQ(paddlesAtEnd, 0) << "the game did not end";
  const Sounds& all = s.platform.Sounds();
  const Sounds game1(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(soundsAtEnd));
  ASSERT_FALSE(game1.empty());
  EXPECT_EQ(game1.front(), kCredit);
  EXPECT_EQ(Count(game1, kCredit), 1u);
  EXPECT_EQ(Count(game1, kMiss), 3u);
  EXPECT_EQ(Count(game1, kBonus), static_cast<std::size_t>((bonusAtEnd - 10) / 5));
  EXPECT_GT(Count(game1, kPaddle), 0u);
  EXPECT_GT(Count(game1, kBorder), 0u);
  EXPECT_EQ(game1.back(), kMiss);  // the last point of the game
  EXPECT_EQ(Count(game1, ""), 0u);
}

}  // namespace
}  // namespace qr
