// Whole sessions through the headless backend, from start-up with scripted keys: coins, a game
// played to its end, and back to the attract mode; each the same again for the same seed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "GameKit.hpp"
#include "game/app/frmRallex.hpp"
#include "helpers/Process.hpp"
#include "hosts/headless/HeadlessHost.hpp"
#include "hosts/shared/Script.hpp"
#include "hosts/shared/StateJson.hpp"

namespace qr {
namespace {

using namespace kit;

std::vector<ScriptEvent> ParseOrFail(const std::string& text) {
  std::istringstream in(text);
  std::string error;
  auto script = ParseScript(in, "session", error);
  EXPECT_TRUE(script.has_value()) << error;
  return script ? script->events : std::vector<ScriptEvent>{};
}

// Two coins, 2 for a two-player game; player 2 keeps the paddle at the top of the track, player 1
// leaves it in the middle.
const char* const kTwoPlayerScript =
    "1000 tap Q\n"
    "1300 tap Q\n"
    "2000 tap 2\n"
    "2100 down Up\n";

// One coin, 1 for a one-player game; the player keeps the paddle at the top of the track.
const char* const kOnePlayerScript =
    "500 tap Q\n"
    "1000 tap 1\n"
    "1100 down A\n";

// What a session did, seen from inside.
struct Session {
  std::int32_t finalP1 = -1;
  std::int32_t finalP2 = -1;
  std::int64_t endMs = -1;      // when game over began
  std::int64_t attractMs = -1;  // when the attract mode ran again
  bool initialsAsked = false;
  std::string state;
  std::vector<std::uint8_t> picture;
};

// Runs the program from start-up with the script until the attract mode has run 100 passes
// after a game (or the run ends). Initials, if the game asks for them, are typed as "ABC".
Session Play(std::uint64_t seed, const char* script, std::int64_t runMs) {
  HeadlessOptions options;
  options.seed = seed;
  options.script = ParseOrFail(script);
  options.runMs = runMs;
  Session out;
  std::int64_t attractPasses = 0;
  const StartedGame s(std::move(options), [&](StartedGame& run) {
    frmRallex& game = run.game;
    HeadlessMachine& platform = run.platform;
    if (game.endGame && game.numPlayers > 0 && out.endMs < 0) {
      out.endMs = platform.NowMs();
      out.finalP1 = game.p1Score;
      out.finalP2 = game.p2Score;
    }
    if (RallexProbe::creditLock(game) && !out.initialsAsked) {
      out.initialsAsked = true;
      const std::int64_t t = platform.NowMs();
      const int keys[] = {'A', 'B', 'C', 13};
      for (int i = 0; i < 4; ++i)
        platform.AddEvent(ScriptEvent{t + 100 * (i + 1), ScriptEvent::Action::Tap, keys[i], 0});
    }
    if (out.endMs >= 0 && out.attractMs < 0 && game.numPlayers == 0 && !game.endGame &&
        platform.Passes(LoopId::DemoLoop) > attractPasses) {
      out.attractMs = platform.NowMs();
      attractPasses = platform.Passes(LoopId::DemoLoop);
    }
    if (out.attractMs < 0) attractPasses = platform.Passes(LoopId::DemoLoop);
    if (out.attractMs >= 0 && platform.Passes(LoopId::DemoLoop) >= attractPasses + 100) {
      platform.SetRunMs(platform.NowMs());
    }
  });
  out.state = StateJson(s.game, s.platform.NowMs(), false, s.platform.Sounds());
  out.picture = s.platform.surface().Indices();
  return out;
}

// The sounds of a session, counted by name.
int Sounds(const nlohmann::json& state, const std::string& name) {
  int n = 0;
  for (const auto& sound : state["sounds"]) n += sound == name ? 1 : 0;
  return n;
}

TEST(SessionTest, TwoPlayerGamePlayedToItsEnd) {
  const Session first = Play(1, kTwoPlayerScript, 3600 * 1000);
  ASSERT_GT(first.endMs, 0) << "the game never ended";
  ASSERT_GT(first.attractMs, first.endMs) << "the attract mode never came back";
  EXPECT_GE(first.attractMs - first.endMs, 3000);  // the game-over pause at least
  // With seed 1, player 2 (the paddle held at the top) wins 6-2: the game ends as a lead reaches 4.
  EXPECT_EQ(first.finalP1, 2);
  EXPECT_EQ(first.finalP2, 6);

  const nlohmann::json state = nlohmann::json::parse(first.state);
  EXPECT_EQ(state["numPlayers"], 0);
  EXPECT_EQ(state["credits"], 0);
  EXPECT_EQ(state["exitRequested"], false);
  EXPECT_EQ(state["msgLines"][6], "Player 2 Is The Winner");
  EXPECT_EQ(state["msgLines"][8], "Game Over");
  EXPECT_EQ(Sounds(state, "SNDCREDIT"), 2);
  EXPECT_EQ(Sounds(state, "SNDMISS"), first.finalP1 + first.finalP2);  // every point of either player
  // The winner beats the empty two-player table, so the game asks for initials and stores them.
  EXPECT_TRUE(first.initialsAsked);
  const auto& top = state["hiScores2P"][0];
  EXPECT_EQ(top["initials"], "ABC");
  EXPECT_EQ(top["score"], std::max(first.finalP1, first.finalP2));
  EXPECT_EQ(top["otherScore"], std::min(first.finalP1, first.finalP2));
  EXPECT_EQ(state["hiScores2P"][1]["initials"], "...");

  const Session again = Play(1, kTwoPlayerScript, 3600 * 1000);
  EXPECT_EQ(again.endMs, first.endMs);
  EXPECT_EQ(again.state, first.state);
  EXPECT_EQ(again.picture, first.picture);
}

TEST(SessionTest, CoinOnePlayerGameGameOverAndBackToTheAttractMode) {
  const Session first = Play(1, kOnePlayerScript, 3600 * 1000);
  ASSERT_GT(first.endMs, 0) << "the game never ended";
  ASSERT_GT(first.attractMs, first.endMs) << "the attract mode never came back";
  EXPECT_EQ(first.finalP2, 3);  // three paddles lost
  ASSERT_LE(first.finalP1, 10) << "this session is meant not to enter the default table";
  EXPECT_FALSE(first.initialsAsked);

  const nlohmann::json state = nlohmann::json::parse(first.state);
  EXPECT_EQ(state["numPlayers"], 0);
  EXPECT_EQ(state["credits"], 0);
  EXPECT_EQ(state["demoLevel"], 1);
  EXPECT_EQ(state["exitRequested"], false);
  EXPECT_EQ(state["paddles"], 3);  // a fresh demonstration rally
  EXPECT_EQ(state["msgLines"][7], "Game Over");
  EXPECT_EQ(Sounds(state, "SNDCREDIT"), 1);
  EXPECT_EQ(Sounds(state, "SNDMISS"), 3);  // the computer's misses are silent
  const int defaults[] = {100, 75, 50, 25, 10};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(state["hiScores"][i]["initials"], "...");
    EXPECT_EQ(state["hiScores"][i]["score"], defaults[i]);
  }

  const Session again = Play(1, kOnePlayerScript, 3600 * 1000);
  EXPECT_EQ(again.state, first.state);
  EXPECT_EQ(again.picture, first.picture);
  const Session other = Play(2, kOnePlayerScript, 3600 * 1000);
  EXPECT_NE(other.endMs, first.endMs);  // the seed decides the game
}

// Plays the script (a coin and a one-player game before it) until the program ends or the clock
// reaches runMs; returns when the program ended (-1: it did not) and when the attract mode or the
// prompt ran again after 5 s.
struct EscRun {
  std::int64_t exitedAt = -1;
  std::int64_t backInAttract = -1;
};
EscRun RunEscScript(const std::string& keys, std::int64_t runMs) {
  HeadlessOptions options;
  options.script = ParseOrFail("500 tap Q\n1000 tap 1\n" + keys);
  options.runMs = runMs;
  EscRun out;
  const StartedGame s(std::move(options), [&out](StartedGame& run) {
    if (out.backInAttract < 0 && run.platform.NowMs() > 5000 && run.platform.Passes(LoopId::DemoLoop) > 0 &&
        run.game.numPlayers == 0) {
      out.backInAttract = run.platform.NowMs();
    }
  });
  if (s.exited) out.exitedAt = s.platform.NowMs();
  return out;
}

std::string At(std::int64_t ms, const char* action) { return std::to_string(ms) + " " + action + " Esc\n"; }

TEST(SessionTest, EscHeldToAbandonAGameDoesNotEndTheProgram) {
  // A real press lasts a tenth of a second or so; the game is abandoned at its first poll and
  // the program must go on in the attract mode, not end on the same press. A second press in
  // the attract mode then ends it, as everywhere outside a rally. The same when the key repeats
  // while it is held (the window delivers the repeats as further key-downs).
  for (const bool repeats : {false, true}) {
    const EscRun run =
        RunEscScript(At(5000, "down") + (repeats ? At(5100, "down") : "") + At(5150, "up") + At(7000, "tap"), 9000);
    // The rally's passes end at 5004, 5014, ...: the poll at 5004 abandons the game, the one at
    // 5154 finds the key let go, and the attract mode's first sleep of 4 ms ends at 5158. Its
    // sleeps then end at 7002, where the tap comes through and ends the program.
    EXPECT_EQ(run.backInAttract, 5158);
    EXPECT_EQ(run.exitedAt, 7002) << "the Esc that abandoned the game also ended the program";
  }
}

TEST(SessionTest, SecondEscAfterAbandoningEndsTheProgram) {
  // The second press may come at any moment after the first one was let go, also within the
  // pass in which it was let go, and as a tap; it ends the program at once. The first press
  // falls at every offset within a pass of the rally loop.
  for (int offset = 0; offset < 10; ++offset) {
    const std::int64_t press = 5000 + offset;
    for (const int gap : {0, 3, 7, 9, 10, 20, 100}) {
      for (const bool heldFirst : {true, false}) {
        for (const char* second : {"down", "tap"}) {
          std::string keys = heldFirst ? At(press, "down") + At(press + 150, "up") : At(press, "tap");
          const std::int64_t again = press + (heldFirst ? 150 : 10) + gap;
          keys += At(again, second);
          const EscRun run = RunEscScript(keys, 9000);
          EXPECT_GE(run.exitedAt, again) << keys;
          EXPECT_LT(run.exitedAt, again + 1000) << keys << " -- the second Esc did not end the program";
        }
      }
    }
  }
}

// ---- The command line ----

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qr-session-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Runs the program headless; returns the state and the picture it wrote.
  std::pair<std::string, std::string> RunHeadless(const std::string& script, int seed, int runMs,
                                                  const std::string& tag) {
    const std::filesystem::path png = dir / (tag + ".png");
    const std::filesystem::path json = dir / (tag + ".json");
    EXPECT_EQ(test::RunProcess({QR_EXE, "--headless", "--seed", std::to_string(seed), "--script", script, "--run-ms",
                                std::to_string(runMs), "--screenshot", png.string(), "--state", json.string()}),
              0);
    return {Read(json), Read(png)};
  }

  std::filesystem::path dir;
};

TEST_F(CommandLineTest, OnePlayerSessionIsTheSameEveryTime) {
  const std::string script = Write("one.txt", kOnePlayerScript);
  const auto a = RunHeadless(script, 1, 15000, "a");
  const auto b = RunHeadless(script, 1, 15000, "b");
  EXPECT_EQ(a.first, b.first);
  EXPECT_EQ(a.second, b.second);
  ASSERT_GT(a.second.size(), 8u);
  EXPECT_EQ(a.second.substr(1, 3), "PNG");
  const nlohmann::json state = nlohmann::json::parse(a.first);
  EXPECT_EQ(state["timeMs"], 15002);  // the first sleep that reaches the end: the roll's 4 ms sleeps
  EXPECT_EQ(state["exited"], false);
  EXPECT_EQ(state["numPlayers"], 0);  // the game is over and the attract mode runs again
  EXPECT_EQ(state["credits"], 0);
  EXPECT_EQ(state["msgLines"][7], "Game Over");
}

TEST_F(CommandLineTest, TwoPlayerSessionIsTheSameEveryTime) {
  // The game of the in-process session ends at 37.5 s; initials, if asked, are typed after it.
  const std::string script =
      Write("two.txt", std::string(kTwoPlayerScript) + "41000 tap A\n41200 tap B\n41400 tap C\n41600 tap Enter\n");
  const auto a = RunHeadless(script, 1, 60000, "a");
  const auto b = RunHeadless(script, 1, 60000, "b");
  EXPECT_EQ(a.first, b.first);
  EXPECT_EQ(a.second, b.second);
  const nlohmann::json state = nlohmann::json::parse(a.first);
  EXPECT_EQ(state["numPlayers"], 0);
  EXPECT_EQ(state["credits"], 0);
  EXPECT_EQ(state["msgLines"][8], "Game Over");
  // The winner's 6-2 beats the empty table: the initials typed after the game are stored.
  const auto& top = state["hiScores2P"][0];
  EXPECT_EQ(top["initials"], "ABC");
  EXPECT_EQ(top["score"], 6);
  EXPECT_EQ(top["otherScore"], 2);
}

}  // namespace
}  // namespace qr
