// The attract mode: its cycle of phases, the text roll, the instructions, the computer's rally;
// coins, the credit counter and the start prompt.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "GameKit.hpp"

namespace qr {
namespace {

using namespace kit;

class AttractTest : public ::testing::Test {
 protected:
  std::int64_t Count(LoopId id) const { return s.platform.Passes(id); }

  StartedGame s;
  frmRallex& g = s.game;
};

// ---- The cycle ----

TEST_F(AttractTest, OneUndisturbedCycleHasItsPhasesInPassesAndSleeps) {
  struct SleepSeen {
    std::int64_t pass;
    int level;
    std::int64_t ms;
    int ballX, ballY;
  };
  std::vector<SleepSeen> sleeps;
  const std::int64_t base = Count(LoopId::DemoLoop);
  std::int64_t last = s.platform.NowMs();
  RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        const std::int64_t now = s.platform.NowMs();
        sleeps.push_back({Count(LoopId::DemoLoop) - base, g.demoLevel, now - last, P::ballX(g), P::ballY(g)});
        last = now;
        return Count(LoopId::DemoLoop) - base < 2212;
      });

  // The sleep that ends each pass is the last one of the pass; the others belong to the waits
  // inside it (the instructions, and the bonus pause of any point the computer wins).
  std::map<std::int64_t, SleepSeen> passEnd;
  int instructionSleeps = 0;
  for (const SleepSeen& seen : sleeps) {
    passEnd[seen.pass] = seen;
    if (seen.level == 2) {
      ++instructionSleeps;
      EXPECT_EQ(seen.pass, 961);
      EXPECT_EQ(seen.ms, 10);
    }
  }
  EXPECT_EQ(instructionSleeps, 500);
  std::map<int, int> passesByLevel;
  for (std::int64_t pass = 1; pass <= 2211; ++pass) {
    const SleepSeen& seen = passEnd.at(pass);
    // The roll, the rally after the instructions, the high scores; the last of the 1001
    // high-score calls (pass 2211) hands over to the roll and already sleeps as it does.
    const int want = pass <= 960 ? 1 : pass <= 1210 ? 3 : pass <= 2210 ? 4 : 1;
    ASSERT_EQ(seen.level, want) << "pass " << pass;
    ASSERT_EQ(seen.ms, want == 3 ? 10 : 4) << "pass " << pass;
    ++passesByLevel[seen.level];
  }
  EXPECT_EQ(passesByLevel, (std::map<int, int>{{1, 961}, {3, 250}, {4, 1000}}));
  EXPECT_EQ(passEnd.at(2212).level, 1);  // the next roll
  // The roll and the rally after the instructions start afresh: the ball's first step (5 across,
  // 1 down at speed 1, angle 4) from a quarter in, at mid height. Seed 1 starts the roll's ball at
  // 240 heading left (-4) and the rally's at 80 heading right (4).
  EXPECT_EQ(passEnd.at(1).ballX, 235);
  EXPECT_EQ(passEnd.at(1).ballY, 121);
  EXPECT_EQ(passEnd.at(961).ballX, 85);
  EXPECT_EQ(passEnd.at(961).ballY, 121);
  // In time: 960 x 4 ms of roll, 5 s of instructions, 250 x 10 ms of rally and 1001 x 4 ms of
  // high scores, plus 2 s for each bonus pause of a point the computer won on the left.
  std::int64_t total = 0;
  for (const SleepSeen& seen : sleeps) total += seen.pass <= 2211 ? seen.ms : 0;
  const std::int64_t waitSleeps = static_cast<std::int64_t>(sleeps.size()) - 2212 - 500;
  EXPECT_EQ(waitSleeps % 200, 0);
  EXPECT_EQ(total, 960 * 4 + 5000 + 250 * 10 + 1001 * 4 + waitSleeps * 10);
  EXPECT_EQ(P::rollLine(g), 0);
}

TEST_F(AttractTest, RollShowsLines1To18InPlaceAndNothingElse) {
  auto& lines = P::textLines(g);
  int leftmost = 319;
  for (int i = 1; i <= 18; ++i) {
    if (!lines[i].text.empty()) leftmost = std::min<int>(leftmost, lines[i].x);
  }
  ASSERT_GT(leftmost, 50);
  // Anything printed from the lines that must never show would appear at x 22.
  lines[0] = TextLine{"WWWWWW", 22};
  for (int i = 19; i <= 25; ++i) lines[i].x = 22;

  const int h = RowHeight();
  const std::int64_t base = Count(LoopId::DemoLoop);
  int prevY = 0;
  int prevLine = 0;
  int linesChecked = 0;
  std::set<int> linesSeen;
  RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        if (g.demoLevel != 1) return false;  // the roll is over
        const std::int64_t pass = Count(LoopId::DemoLoop) - base;
        if (pass == 1) {
          g.ballSpeed = 0;  // the ball stands still in the corner, out of the text's way
          P::ballX(g) = 290;
          P::ballY(g) = 195;
        }
        const Surface& f = P::form(g);
        EXPECT_EQ(kit::Count(f, 20, 35, 45, 205), 0) << "pass " << pass;
        if (pass > 1 && P::rollTick(g) == 2) {  // this pass made a scroll step at prevY, prevLine
          for (int i = prevLine - 10; i <= prevLine; ++i) {
            const int y = prevY + (i - (prevLine - 10)) * h;
            if (i < 1 || i > 18 || lines[i].text.empty() || y < 33 || y + h > 207) continue;
            EXPECT_TRUE(ShowsText(f, lines[i].x, y, lines[i].text)) << "line " << i << ", pass " << pass;
            ++linesChecked;
            linesSeen.insert(i);
          }
        }
        prevY = P::rollY(g);
        prevLine = P::rollLine(g);
        return true;
      });
  EXPECT_GT(linesChecked, 1000);
  EXPECT_EQ(linesSeen.size(), 15u);  // lines 1, 4, 5, 7 .. 18; 2, 3 and 6 are empty
}

TEST_F(AttractTest, EscIsSeenAtTheTopOfTheNextPass) {
  const std::int64_t base = Count(LoopId::DemoLoop);
  int stepAtEsc = -1;
  const bool returned = RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        const std::int64_t pass = Count(LoopId::DemoLoop) - base;
        if (pass == 40) {
          Tap(s, k1);  // keys 1 and 2 do nothing here
          Tap(s, k2);
        }
        if (pass == 60) {
          Tap(s, kEsc);
          stepAtEsc = P::rollStep(g) * 10 + P::rollTick(g);
        }
        return pass < 100;
      });
  EXPECT_TRUE(returned);
  EXPECT_EQ(Count(LoopId::DemoLoop) - base, 60);               // the 61st pass returned before counting itself
  EXPECT_EQ(P::rollStep(g) * 10 + P::rollTick(g), stepAtEsc);  // and before DemoLevels
  EXPECT_TRUE(P::exitRequested(g));
  EXPECT_EQ(Count(LoopId::StartPrompt), 0);
  EXPECT_EQ(g.numPlayers, 0);
}

TEST_F(AttractTest, LostFocusEndsTheAttractModeAfterTheNextDemoLevels) {
  const std::int64_t base = Count(LoopId::DemoLoop);
  const bool returned = RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        if (Count(LoopId::DemoLoop) - base == 60) LoseFocus(s);
        return Count(LoopId::DemoLoop) - base < 100;
      });
  EXPECT_TRUE(returned);
  EXPECT_EQ(Count(LoopId::DemoLoop) - base, 62);  // delivered in pass 61, acted on in pass 62
  EXPECT_TRUE(P::exitRequested(g));
}

TEST_F(AttractTest, ComputerSteersOnlyThePaddleTheBallHeadsFor) {
  const std::int64_t base = Count(LoopId::DemoLoop);
  std::int16_t p1 = g.p1Center;
  std::int16_t p2 = g.p2Center;
  int level = -1;  // the first pass starts a fresh rally
  int p1Moves = 0;
  int p2Moves = 0;
  std::set<int> aims;
  RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        const std::int16_t pace = g.pSpeed;
        const int aimY = P::demoAimY(g);
        const int by = P::ballY(g);
        if (g.demoLevel == level) {  // no fresh rally in between
          const bool moved1 = g.p1Center != p1;
          const bool moved2 = g.p2Center != p2;
          EXPECT_FALSE(moved1 && moved2);
          if (moved1) {
            ++p1Moves;
            EXPECT_LT(g.ballDir, 0);
            EXPECT_EQ(P::demoAimOfs(g) + p1, aimY);
          }
          if (moved2) {
            ++p2Moves;
            EXPECT_GT(g.ballDir, 0);
            EXPECT_EQ(P::demoAimOfs(g) + p2, aimY);
          }
          if (moved1 || moved2) {
            const int before = moved1 ? p1 : p2;
            const int after = moved1 ? g.p1Center : g.p2Center;
            if (after < before) {
              EXPECT_LT(by, aimY - pace);
            } else {
              EXPECT_GT(by, aimY + pace);
            }
          }
        }
        aims.insert(P::demoAimOfs(g));
        p1 = g.p1Center;
        p2 = g.p2Center;
        level = g.demoLevel;
        return Count(LoopId::DemoLoop) - base < 3000;
      });
  EXPECT_GT(p1Moves, 50);
  EXPECT_GT(p2Moves, 50);
  EXPECT_GE(aims.size(), 10u);
  EXPECT_GE(*aims.begin(), -19);
  EXPECT_LE(*aims.rbegin(), 19);
}

// ---- The instructions ----

TEST_F(AttractTest, InstructionsScreenAndItsWait) {
  g.InitVariables();
  P::form(g).Cls();
  g.Update();
  std::int64_t t0 = s.platform.NowMs();
  int sleeps = 0;
  bool layout = false;
  RunWatched(
      s, [&] { g.DspInstructions(); },
      [&] {
        if (++sleeps == 1) {
          const Surface& f = P::form(g);
          const std::string coin = "Press Q to deposit virtual coin for credit";
          layout = ShowsText(f, CentredX(coin), 48, coin) && ShowsText(f, 60, 96, "Player 1") &&
                   ShowsText(f, 186, 96, "Player 2") && ShowsText(f, 60, 112, "A - Up") &&
                   ShowsText(f, 183, 112, "Up Arrow") && ShowsText(f, 60, 128, "Z - Down") &&
                   ShowsText(f, 176, 128, "Down Arrow");
        }
        return true;
      });
  EXPECT_TRUE(layout);
  EXPECT_EQ(sleeps, 500);
  EXPECT_EQ(s.platform.NowMs() - t0, 5000);
  EXPECT_FALSE(P::exitRequested(g));
}

TEST_F(AttractTest, InstructionsWaitEndsEarly) {
  // A coin: the wait ends on the pass whose hand-over brought the credit.
  {
    int sleeps = 0;
    int creditAt = 0;
    RunWatched(
        s, [&] { g.DspInstructions(); },
        [&] {
          ++sleeps;
          if (sleeps == 100) Down(s, kQ);
          if (g.credits > 0 && creditAt == 0) creditAt = sleeps;
          return true;
        });
    Up(s, kQ);
    EXPECT_EQ(g.credits, 1);
    // The next tick of the coin timer, due at 1000 ms, comes at the hand-over of the 101st pass.
    EXPECT_EQ(creditAt, 101);
    EXPECT_EQ(sleeps, creditAt);
  }
  // Esc: the program is to end.
  g.credits = 0;
  for (const bool esc : {true, false}) {
    P::exitRequested(g) = false;
    int sleeps = 0;
    RunWatched(
        s, [&] { g.DspInstructions(); },
        [&] {
          if (++sleeps == 10) esc ? Tap(s, kEsc) : LoseFocus(s);
          return true;
        });
    EXPECT_EQ(sleeps, esc ? 10 : 11);
    EXPECT_TRUE(P::exitRequested(g));
  }
}

TEST_F(AttractTest, EscDuringTheInstructionsEndsTheAttractModeInThatPass) {
  const std::int64_t base = Count(LoopId::DemoLoop);
  const bool returned = RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        if (g.demoLevel == 2 && P::instrPass(g) == 20) Tap(s, kEsc);
        return Count(LoopId::DemoLoop) - base < 1500;
      });
  EXPECT_TRUE(returned);
  EXPECT_EQ(Count(LoopId::DemoLoop) - base, 961);
  EXPECT_EQ(g.demoLevel, 2);  // phase 3 never began
  EXPECT_TRUE(P::exitRequested(g));
}

// ---- Coins and credits ----

TEST_F(AttractTest, CoinKeyAddsCreditsUpTo99ThenStartsAgainAt1) {
  const Surface& f = P::form(g);
  const std::size_t sounds = s.platform.Sounds().size();
  g.credits = 98;
  g.DspCredits();
  Down(s, kQ);
  g.tmrCredit_Timer();
  EXPECT_EQ(g.credits, 99);
  EXPECT_TRUE(ShowsText(f, 210, 217, "Credit 99"));
  g.tmrCredit_Timer();
  EXPECT_EQ(g.credits, 1);
  EXPECT_TRUE(ShowsText(f, 210, 217, "Credit 01"));
  EXPECT_EQ(s.platform.Sounds().size(), sounds + 2);
  EXPECT_EQ(s.platform.Sounds().back(), "SNDCREDIT");
  // No credit while the coin key is locked.
  P::creditLock(g) = true;
  g.tmrCredit_Timer();
  EXPECT_EQ(g.credits, 1);
  P::creditLock(g) = false;
  Up(s, kQ);
  g.tmrCredit_Timer();  // the press was seen already: nothing more
  EXPECT_EQ(g.credits, 1);
}

TEST_F(AttractTest, FirstCounterOverprintsCredit00) {
  // As after start-up: "Credit 00" on the screen, nothing printed yet.
  P::form(g).Cls();
  P::form(g).ForeColor(kSilver);
  P::form(g).CurrentX = 210;
  P::form(g).CurrentY = 217;
  P::form(g).Print("Credit 00");
  P::creditsShown(g) = 0;
  g.credits = 4;
  g.DspCredits();
  EXPECT_TRUE(ShowsText(P::form(g), 210, 217, "Credit 04"));
}

// ---- The start prompt ----

class PromptTest : public AttractTest {
 protected:
  // Runs the start prompt; watch gets the number of each prompt pass, or 0 for sleeps outside
  // the prompt's own passes (the game), and returns false to stop.
  bool Prompt(const std::function<bool(int)>& watch) {
    const std::int64_t base = Count(LoopId::StartPrompt);
    mainBase = Count(LoopId::MainLoop);
    return RunWatched(
        s, [&] { g.StartPrompt(); },
        [&] {
          const bool inGame = Count(LoopId::MainLoop) != mainBase;
          return watch(inGame ? 0 : static_cast<int>(Count(LoopId::StartPrompt) - base));
        });
  }
  std::int64_t mainBase = Count(LoopId::MainLoop);
};

TEST_F(PromptTest, PromptSwitchesFormWhenASecondCoinArrives) {
  g.credits = 1;
  int creditPass = 0;
  bool oneCreditForm = false;
  bool stillOldForm = false;
  bool twoCreditForm = false;
  Prompt([&](int pass) {
    const Surface& f = P::form(g);
    if (pass == 1) {
      oneCreditForm = RowShows(f, 6, "Press 1 for 1 Player Game") && RowEmpty(f, 7) &&
                      RowShows(f, 8, "Deposit Another Coin For") && RowShows(f, 9, "2 Player Game");
      Tap(s, k2);  // refused with one credit
    }
    if (pass == 3) Tap(s, kQ);
    if (g.credits == 2 && creditPass == 0) {
      creditPass = pass;
      stillOldForm = RowShows(f, 8, "Deposit Another Coin For");  // drawn before the hand-over
      return true;
    }
    if (creditPass != 0) {
      twoCreditForm = RowShows(f, 6, "Press 1 for 1 Player Game") && RowEmpty(f, 7) &&
                      RowShows(f, 8, "Press 2 for 2 Player Game") && RowEmpty(f, 9) &&
                      ShowsText(f, 210, 217, "Credit 02");
      return false;
    }
    return pass < 200;
  });
  EXPECT_TRUE(oneCreditForm);
  EXPECT_GT(creditPass, 3);
  EXPECT_TRUE(stillOldForm);
  EXPECT_TRUE(twoCreditForm);
  EXPECT_EQ(Count(LoopId::MainLoop), mainBase);  // key 2 started nothing
}

TEST_F(PromptTest, EscAtThePromptEndsTheProgram) {
  g.credits = 1;
  const bool returned = Prompt([&](int pass) {
    if (pass == 2) Tap(s, kEsc);
    return pass < 10;
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(Count(LoopId::StartPrompt), 2);
  EXPECT_TRUE(P::exitRequested(g));
  EXPECT_EQ(g.credits, 1);
  EXPECT_EQ(Count(LoopId::MainLoop), mainBase);
}

TEST_F(PromptTest, LosingTheFocusAtThePromptEndsTheProgram) {
  g.credits = 2;
  const bool returned = Prompt([&](int pass) {
    if (pass == 2) {
      LoseFocus(s);  // delivered by the hand-over of pass 3
      // 1 pressed during the sleep of pass 3: the prompt leaves before it polls the keys.
      s.platform.AddEvent(ScriptEvent{s.platform.NowMs() + 5, Action::Tap, k1, 0});
    }
    return pass < 10;
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(Count(LoopId::StartPrompt), 3);
  EXPECT_TRUE(P::exitRequested(g));
  EXPECT_EQ(g.credits, 2);
  EXPECT_EQ(Count(LoopId::MainLoop), mainBase);
}

TEST_F(PromptTest, KeyOneWinsOverTwoAndOverEsc) {
  // 1 and 2 together: a one-player game for one credit.
  g.credits = 2;
  Prompt([&](int pass) {
    if (pass == 1) {
      Tap(s, k1);
      Tap(s, k2);
    }
    return pass != 0;  // stop at the first sleep of the game
  });
  EXPECT_EQ(g.numPlayers, 1);
  EXPECT_EQ(g.credits, 1);

  // Esc and 1 in the same poll: the game is played (here abandoned at once, Esc being still
  // down; it waits for the key to be let go), and then the program ends.
  P::exitRequested(g) = false;
  const std::int64_t games = Count(LoopId::MainLoop);
  int gameSleeps = 0;
  const bool returned = Prompt([&](int pass) {
    if (pass == 1) {
      Down(s, kEsc);
      Down(s, k1);
    }
    if (pass == 0 && ++gameSleeps == 10) {
      Up(s, kEsc);
      Up(s, k1);
    }
    return pass < 10;
  });
  EXPECT_TRUE(returned);
  EXPECT_EQ(Count(LoopId::MainLoop) - games, 1);
  EXPECT_EQ(g.numPlayers, 1);
  EXPECT_EQ(g.credits, 0);
  EXPECT_TRUE(P::exitRequested(g));
}

TEST_F(PromptTest, TwoCreditsBuyATwoPlayerGame) {
  g.credits = 3;
  Prompt([&](int pass) {
    if (pass == 1) Tap(s, k2);
    return pass != 0;
  });
  EXPECT_EQ(g.numPlayers, 2);
  EXPECT_EQ(g.credits, 1);
  EXPECT_EQ(P::msgLines(g)[7], "Get Ready");
}

TEST_F(AttractTest, CoinDuringTheRollOpensThePromptAndTheCycleStartsAfresh) {
  const std::int64_t demoBase = Count(LoopId::DemoLoop);
  std::int64_t creditPass = 0;
  std::int64_t demoPassesAtPrompt = -1;
  bool afterGame = false;
  bool fresh = false;
  RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        const std::int64_t demo = Count(LoopId::DemoLoop) - demoBase;
        if (demo == 100 && creditPass == 0 && !afterGame) Down(s, kQ);
        if (g.credits == 1 && creditPass == 0) {
          creditPass = demo;
          Up(s, kQ);
        }
        if (Count(LoopId::StartPrompt) == 1 && demoPassesAtPrompt < 0) {
          demoPassesAtPrompt = demo;
          Tap(s, k1);
        }
        if (Count(LoopId::MainLoop) == 5 && !afterGame) {
          afterGame = true;
          Tap(s, kEsc);  // abandon the game
          return true;
        }
        if (afterGame && demo > demoPassesAtPrompt) {
          fresh = g.demoLevel == 1 && P::rollLine(g) == 0 && P::rollStep(g) == 0 && P::rollTick(g) == 1 &&
                  g.numPlayers == 0 && g.credits == 0;
          return false;
        }
        return demo < 2000;
      });
  EXPECT_GT(creditPass, 100);
  EXPECT_EQ(demoPassesAtPrompt, creditPass);  // no further attract pass once the credit came
  EXPECT_TRUE(afterGame);
  EXPECT_TRUE(fresh);
}

TEST_F(AttractTest, CreditsLeftAfterAGameLeadStraightBackToThePrompt) {
  g.credits = 3;
  const std::int64_t demoBase = Count(LoopId::DemoLoop);
  bool abandoned = false;
  RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        if (Count(LoopId::StartPrompt) == 1) Tap(s, k1);
        if (Count(LoopId::MainLoop) == 3 && !abandoned) {
          abandoned = true;
          Tap(s, kEsc);
        }
        return Count(LoopId::StartPrompt) < 2;
      });
  EXPECT_TRUE(abandoned);
  EXPECT_EQ(Count(LoopId::StartPrompt), 2);      // the prompt again
  EXPECT_EQ(Count(LoopId::DemoLoop), demoBase);  // without a single attract pass
  EXPECT_EQ(g.demoLevel, 0);
  EXPECT_EQ(g.credits, 2);
}

TEST_F(AttractTest, ServeTimerOfADemonstrationPointDoesNotReachTheGame) {
  // The computer loses a point in the attract mode, which announces a serve and arms the serve
  // timer; a coin comes at once, 1 is pressed and player 1 holds A behind "Get Ready". The game
  // must start when "Get Ready" ends, not when the attract mode's serve timer fires.
  const std::int64_t demoBase = Count(LoopId::DemoLoop);
  bool armed = false;
  int startedAt = 0;
  bool waitedForServe = false;
  RunWatched(
      s, [&] { g.DemoLoop(); },
      [&] {
        const std::int64_t demo = Count(LoopId::DemoLoop) - demoBase;
        const std::int64_t pass = Count(LoopId::MainLoop);
        if (demo == 50 && Count(LoopId::StartPrompt) == 0) {
          PlaceBall(g, -5, 120, -3);
          g.missedBall = true;
        }
        if (demo == 51 && Count(LoopId::StartPrompt) == 0 && g.credits == 0) {
          armed = P::tmrServe(g).Enabled();
          g.credits = 1;
        }
        if (Count(LoopId::StartPrompt) == 1 && pass == 0) {
          Tap(s, k1);
          Down(s, kA);
        }
        if (pass > 0) {
          waitedForServe = waitedForServe || g.waitForServe;
          if (g.movingBall && startedAt == 0) startedAt = static_cast<int>(pass);
          return startedAt == 0 && pass < 400;
        }
        return demo < 1000;
      });
  Up(s, kA);
  EXPECT_TRUE(armed);
  EXPECT_FALSE(waitedForServe);
  EXPECT_EQ(startedAt, 201);
}

}  // namespace
}  // namespace qr
