#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Probe.hpp"
#include "TempDir.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace fs = std::filesystem;

namespace {

using vk::kBackspace;
using vk::kEnter;
using vk::kEsc;
using vk::kLeft;
using vk::kRight;
using vk::kUp;

// A game that has just ended, ready for the high-score check, with keys typed at chosen
// moments of the virtual clock and checks run at others.
class Finished : public testing::Test {
 protected:
  explicit Finished(std::string dir = {}) : s_(1, std::move(dir)) {
    s_.platform.SetSleepHook([this] {
      while (next_ < checks_.size() && checks_[next_].first <= s_.platform.NowMs()) checks_[next_++].second();
    });
  }

  frmRallex& game() { return s_.game; }
  std::int64_t Now() const { return s_.platform.NowMs(); }
  std::int64_t start() const { return start_; }

  // Taps each key in turn, the first at start + from ms, then one every 30 ms. Returns the time
  // of the last tap.
  std::int64_t Type(std::int64_t from, std::initializer_list<int> vks) {
    std::int64_t at = start_ + from;
    for (const int vk : vks) {
      Add(at, ScriptEvent::Action::Tap, vk);
      at += 30;
    }
    return at - 30;
  }
  void Add(std::int64_t at, ScriptEvent::Action action, int vk = 0) {
    s_.platform.AddEvent(ScriptEvent{at, action, vk, 0});
  }
  // Runs check at the first sleep at or after start + at ms (checks in time order).
  void At(std::int64_t at, std::function<void()> check) { checks_.emplace_back(start_ + at, std::move(check)); }

  void EndGame(std::int16_t players, std::int32_t p1, std::int32_t p2) {
    game().numPlayers = players;
    game().p1Score = p1;
    game().p2Score = p2;
  }

  auto& one() { return RallexProbe::hiScores(game()); }
  auto& two() { return RallexProbe::hiScores2P(game()); }
  std::vector<std::int16_t> OneScores() {
    std::vector<std::int16_t> v;
    for (int i = 1; i <= 5; ++i) v.push_back(one()[i].score);
    return v;
  }

  // Silver pixels in the box [x0, x1) x [y0, y1).
  int Silver(int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) n += RallexProbe::form(game()).Pixel(x, y) == kSilver ? 1 : 0;
    }
    return n;
  }
  int TextHeight() { return RallexProbe::form(game()).TextHeight("H"); }
  int CellSilver(int cell) { return Silver(135 + 15 * cell, 135, 150 + 15 * cell, 135 + TextHeight()); }
  int EnterSilver() {
    return Silver(180, 135, 180 + RallexProbe::form(game()).TextWidth("[Enter]"), 135 + TextHeight());
  }

  StartedGame s_;
  std::int64_t start_ = s_.platform.NowMs();
  std::vector<std::pair<std::int64_t, std::function<void()>>> checks_;
  std::size_t next_ = 0;
};

struct DataDir {
  TempDir tmp_;
};

// The same with a data directory, which exists before the game starts (no file in it).
class FinishedWithFile : private DataDir, public Finished {
 protected:
  FinishedWithFile() : Finished(tmp_.str()) {}
  fs::path File() const { return tmp_.path() / "QuillmarshRall.dat"; }
  std::string Dir() const { return tmp_.str(); }
};

using FinishedGame = Finished;

}  // namespace

TEST_F(FinishedWithFile, HundredAgainstTheFirstRunTableReplacesTheSecondEntry) {
  EndGame(1, 100, 0);
  Type(100, {'A', 'B', 'C', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 100, 50, 25, 10})) << "75 is gone, nothing moved";
  EXPECT_EQ(one()[1].initials, "...");
  EXPECT_EQ(one()[2].initials, "ABC");
  EXPECT_EQ(one()[3].initials, "...");
  EXPECT_EQ(RallexProbe::enteredInitials(game()), "ABC");
  EXPECT_FALSE(RallexProbe::exitRequested(game()));
  EXPECT_FALSE(RallexProbe::creditLock(game()));
  EXPECT_EQ(game().p1Score, 100) << "the final score survives the reset of the entry screen";
  EXPECT_EQ(ReadBytes(File()), FormatHiScoreRecord(one(), two()) + "\r\n");

  StartedGame again(2, Dir());
  EXPECT_EQ(RallexProbe::hiScores(again.game)[2].initials, "ABC");
  EXPECT_EQ(RallexProbe::hiScores(again.game)[2].score, 100);
  EXPECT_EQ(RallexProbe::hiScores(again.game)[5].score, 10);
}

TEST_F(FinishedWithFile, TenDoesNotQualifyAndElevenReplacesTheLastEntry) {
  EndGame(1, 10, 0);
  game().CheckForHighScore();
  EXPECT_EQ(Now(), start()) << "no entry screen, no pause";
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 75, 50, 25, 10}));
  EXPECT_FALSE(fs::exists(File()));

  EndGame(1, 11, 0);
  Type(100, {'X', 'Y', 'Z', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 75, 50, 25, 11}));
  EXPECT_EQ(one()[5].initials, "XYZ");
  EXPECT_TRUE(fs::exists(File()));
}

TEST_F(FinishedGame, TwoPlayerWinnerEntersTheTwoPlayerTable) {
  EndGame(2, 3, 7);  // won 7 to 3 by player 2
  Type(100, {'P', '2', kRight, kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(RallexProbe::msgLines(game())[3], "High Score !");
  EXPECT_EQ(RallexProbe::msgLines(game())[4], "");
  EXPECT_EQ(RallexProbe::msgLines(game())[5], "Player 2 Enter Your Initials");
  EXPECT_EQ(two()[1].initials, "P2 ");
  EXPECT_EQ(two()[1].score, 7);
  EXPECT_EQ(two()[1].otherScore, 3);
  EXPECT_EQ(two()[2].initials, "...");
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 75, 50, 25, 10})) << "the one-player table stays";

  EndGame(2, 4, 0);
  Type(10000, {'O', 'N', 'E', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(RallexProbe::msgLines(game())[5], "Player 1 Enter Your Initials");
  EXPECT_EQ(two()[1].initials, "P2 ") << "4 does not beat 7";
  EXPECT_EQ(two()[2].initials, "ONE");
  EXPECT_EQ(two()[2].score, 4);
  EXPECT_EQ(two()[2].otherScore, 0);
}

TEST_F(FinishedGame, ATimeOutAsksAgainForTheNextEntryTheScoreBeats) {
  EndGame(1, 60, 0);  // beats entries 3, 4 and 5
  // The first screen gives up after 6000 passes of 10 ms, one pass per sleep.
  At(59000, [this] { EXPECT_EQ(RallexProbe::idlePasses(game()), 5900); });
  const std::int64_t last = Type(61000, {'L', 'A', 'T', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 75, 50, 60, 10}));
  EXPECT_EQ(one()[4].initials, "LAT");
  EXPECT_EQ(one()[3].initials, "...");
  EXPECT_GT(Now(), start() + last);
}

TEST_F(FinishedWithFile, FiveTimeOutsStoreShowAndSaveNothing) {
  EndGame(1, 200, 0);
  game().CheckForHighScore();
  EXPECT_EQ(Now() - start(), 5 * 60000) << "five entries of 6000 passes of 10 ms, and no closing pause";
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 75, 50, 25, 10}));
  EXPECT_EQ(RallexProbe::enteredInitials(game()), "");
  EXPECT_FALSE(RallexProbe::creditLock(game()));
  EXPECT_FALSE(fs::exists(File()));
}

TEST_F(FinishedGame, DeletingTakesBackCharactersAndNothingWhenThereAreNone) {
  EndGame(1, 500, 0);
  Type(100, {kBackspace});
  At(200, [this] {
    EXPECT_EQ(RallexProbe::lastKeyCode(game()), 0) << "the key is used up";
    EXPECT_EQ(RallexProbe::letterCount(game()), 0);
    EXPECT_EQ(RallexProbe::enteredInitials(game()), "");
  });
  Type(300, {'A', 'B'});
  At(500, [this] {
    EXPECT_GT(CellSilver(0), 0);
    EXPECT_GT(CellSilver(1), 0);
  });
  Type(600, {kLeft});
  At(700, [this] {
    EXPECT_GT(CellSilver(0), 0);
    EXPECT_EQ(CellSilver(1), 0) << "the taken-back B is erased";
    EXPECT_EQ(RallexProbe::enteredInitials(game()), "A");
  });
  Type(800, {'C', 'D'});
  At(1000, [this] { EXPECT_GT(EnterSilver(), 0) << "[Enter] after three characters"; });
  Type(1100, {kBackspace});
  At(1200, [this] {
    EXPECT_EQ(EnterSilver(), 0) << "a delete erases [Enter]";
    EXPECT_EQ(CellSilver(2), 0);
  });
  Type(1300, {'E', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(one()[1].initials, "ACE");
}

TEST_F(FinishedGame, EnterConfirmsOnlyAfterThreeCharacters) {
  EndGame(1, 500, 0);
  Type(100, {'A', kEnter});
  At(300, [this] {
    EXPECT_FALSE(RallexProbe::entryDone(game()));
    EXPECT_EQ(RallexProbe::lastKeyCode(game()), kEnter) << "the unused Enter waits";
    EXPECT_EQ(RallexProbe::idlePasses(game()), 0) << "a waiting key keeps the entry from timing out";
  });
  const std::int64_t last = Type(400, {'B', 'C', 'D', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(one()[1].initials, "ABC") << "D after three characters is not taken";
  EXPECT_GT(Now(), start() + last);
}

TEST_F(FinishedGame, KeyCodesFrom32To96AreCharactersAndTheRestIgnored) {
  EndGame(1, 500, 0);
  // 186 (semicolon), 97 (keypad 1), 112 (F1) and 20 (Caps Lock) are ignored; Right is a blank,
  // Up (38) the ampersand.
  Type(100, {186, kRight, 97, kUp, 112, 20, '9', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(one()[1].initials, " &9");
}

TEST_F(FinishedGame, CharactersSitInCellsFifteenUnitsApartWithTheCursorUnderTheNext) {
  EndGame(1, 500, 0);
  auto cursorAt = [this](int x) {
    EXPECT_EQ(RallexProbe::form(game()).Pixel(x + 5, 155), kSilver) << "cursor under x " << x;
    for (int other = 135; other <= 180; other += 15) {
      if (other != x) {
        EXPECT_EQ(RallexProbe::form(game()).Pixel(other + 5, 155), kBlack) << "no cursor at " << other;
      }
    }
  };
  At(50, [&] {
    cursorAt(135);
    EXPECT_EQ(CellSilver(0), 0);
  });
  Type(100, {'W'});
  At(200, [&] {
    cursorAt(150);
    EXPECT_GT(CellSilver(0), 0);
    EXPECT_EQ(CellSilver(1), 0);
  });
  Type(300, {'W', 'W'});
  At(500, [&] {
    cursorAt(180);
    EXPECT_GT(CellSilver(2), 0);
    EXPECT_GT(EnterSilver(), 0);
  });
  Type(600, {kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(one()[1].initials, "WWW");
}

TEST_F(FinishedGame, QTypesALetterAndBuysNoCredit) {
  EndGame(1, 500, 0);
  game().credits = 0;
  Add(start() + 100, ScriptEvent::Action::Down, 'Q');  // held for more than three coin ticks
  Add(start() + 1200, ScriptEvent::Action::Up, 'Q');
  At(600, [this] { EXPECT_TRUE(RallexProbe::creditLock(game())); });
  Type(1300, {'B', 'C', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(one()[1].initials, "QBC");
  EXPECT_EQ(game().credits, 0);
  EXPECT_FALSE(RallexProbe::creditLock(game()));
}

TEST_F(FinishedWithFile, EscDuringTheEntryStoresNothing) {
  EndGame(1, 500, 0);
  const std::int64_t esc = Type(100, {'A', 'B', kEsc});
  game().CheckForHighScore();
  EXPECT_TRUE(RallexProbe::exitRequested(game()));
  EXPECT_LE(Now(), start() + esc + 20);
  EXPECT_EQ(OneScores(), (std::vector<std::int16_t>{100, 75, 50, 25, 10}));
  EXPECT_EQ(one()[1].initials, "...");
  EXPECT_FALSE(RallexProbe::creditLock(game()));
  EXPECT_FALSE(fs::exists(File()));
}

TEST_F(FinishedWithFile, LosingTheFocusDuringTheEntryEndsItAtOnce) {
  EndGame(1, 500, 0);
  Type(100, {'A'});
  Add(start() + 2000, ScriptEvent::Action::FocusLost);
  game().CheckForHighScore();
  EXPECT_TRUE(RallexProbe::exitRequested(game()));
  EXPECT_LE(Now(), start() + 2020) << "not after the time-out";
  EXPECT_EQ(one()[1].initials, "...");
  EXPECT_FALSE(RallexProbe::creditLock(game()));
  EXPECT_FALSE(fs::exists(File()));
}

TEST_F(FinishedWithFile, TheClosingPauseLasts400PassesAndEndsOnEscOrFocusLoss) {
  EndGame(1, 500, 0);
  const std::int64_t enter = Type(100, {'A', 'B', 'C', kEnter});
  game().CheckForHighScore();
  const std::int64_t pause = Now() - (start() + enter);
  EXPECT_GE(pause, 4000);
  EXPECT_LE(pause, 4040);
  EXPECT_FALSE(RallexProbe::exitRequested(game()));

  start_ = Now();
  EndGame(1, 600, 0);
  Type(100, {'D', 'E', 'F', kEnter, kEsc});
  game().CheckForHighScore();
  EXPECT_TRUE(RallexProbe::exitRequested(game()));
  EXPECT_LT(Now() - start_, 1000);
  EXPECT_EQ(one()[1].initials, "DEF") << "stored and saved before the pause";
  EXPECT_EQ(ReadBytes(File()), FormatHiScoreRecord(one(), two()) + "\r\n");

  RallexProbe::exitRequested(game()) = false;
  start_ = Now();
  EndGame(1, 700, 0);
  Type(100, {'G', 'H', 'I', kEnter});
  Add(start_ + 500, ScriptEvent::Action::Close);
  game().CheckForHighScore();
  EXPECT_TRUE(RallexProbe::exitRequested(game()));
  EXPECT_LT(Now() - start_, 1000);
  EXPECT_EQ(one()[1].initials, "GHI");
}

TEST_F(FinishedGame, ScoresBeyondSixteenBitsAreStoredAsTheLargestTheTableHolds) {
  EndGame(1, 40000, 0);
  Type(100, {'B', 'I', 'G', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(one()[1].score, 32767);
  EXPECT_EQ(one()[2].score, 75);
  EXPECT_EQ(game().p1Score, 40000);

  start_ = Now();
  EndGame(2, 70000, 65540);
  Type(100, {'T', 'W', 'O', kEnter});
  game().CheckForHighScore();
  EXPECT_EQ(two()[1].score, 32767);
  EXPECT_EQ(two()[1].otherScore, 32767);
  EXPECT_EQ(game().p2Score, 65540);
}

TEST_F(FinishedGame, GameOverHandsTheFinalScoreToTheEntry) {
  EndGame(1, 11, 0);
  game().endGame = true;
  Type(3200, {'E', 'N', 'D', kEnter});
  game().GameOver();
  EXPECT_EQ(one()[5].initials, "END");
  EXPECT_EQ(one()[5].score, 11);
  EXPECT_EQ(game().numPlayers, 0);
  EXPECT_FALSE(game().endGame);
}

}  // namespace qr
