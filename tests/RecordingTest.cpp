// Recorded games: a game recorded with its seed, the files it read and its input plays again
// exactly, to the same state and the same picture, and a game that enters a table keeps its
// recording beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Probe.hpp"
#include "TempDir.hpp"
#include "hosts/desktop/RankedFile.hpp"
#include "hosts/desktop/RecordingFile.hpp"
#include "hosts/shared/Recorder.hpp"
#include "hosts/shared/StateJson.hpp"

namespace qr {

namespace {

struct Outcome {
  std::string state;
  std::vector<std::uint32_t> picture;
  std::string recording;
};

Outcome Play(HeadlessOptions options, std::int64_t ms) {
  options.runMs = ms;
  WrappedGame<Recorder> g(std::move(options), nullptr);
  g.Start();
  Outcome out;
  out.state = StateJson(g.game, g.machine.NowMs(), g.exited, g.machine.Sounds());
  out.picture.resize(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight);
  g.machine.surface().ToRgb(out.picture.data());
  out.recording = g.machine.Recording();
  return out;
}

// A minute of keys pressed, held and let go at random, the game's own keys most often.
std::vector<ScriptEvent> KeyStorm(std::uint32_t seed) {
  std::mt19937 rng(seed);
  const int keys[] = {81, 81, 49, 50, 50, 65, 90, 186, 38, 40, 65, 90, 38, 40, 66, 67, 13, 8, 37, 39, 32, 27};
  std::vector<ScriptEvent> events;
  std::int64_t t = 500;
  while (t < 60000) {
    t += std::uniform_int_distribution<int>(1, 400)(rng);
    ScriptEvent e;
    e.ms = t;
    int key = keys[std::uniform_int_distribution<int>(0, std::size(keys) - 1)(rng)];
    if (key == 27 && std::uniform_int_distribution<int>(0, 9)(rng) != 0) key = 65;  // Esc ends too soon
    e.vk = key;
    e.action = static_cast<ScriptEvent::Action>(std::uniform_int_distribution<int>(0, 2)(rng));
    events.push_back(e);
  }
  return events;
}

// The text without its lines that begin with one of the prefixes.
std::string WithoutLines(const std::string& text, std::initializer_list<std::string_view> prefixes) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    bool drop = false;
    for (std::string_view prefix : prefixes) drop = drop || line.rfind(prefix, 0) == 0;
    if (!drop) out += line + "\n";
  }
  return out;
}

}  // namespace

TEST(Recording, KeyStormsPlayAgainExactly) {
  int entries = 0;
  for (std::uint32_t storm = 1; storm <= 20; ++storm) {
    TempDir played;
    TempDir empty;
    if (storm % 2 == 0) {
      // Half of the games start on a table of the player's, which only the recording brings.
      HiScoreTable one;
      HiScoreTable2P two;
      DefaultHiScores(one, two);
      one[1].score = 3;
      two[2] = HiScore2P{"QQQ", 1, 0};
      std::ofstream(played.path() / "QuillmarshRall.dat", std::ios::binary) << FormatHiScoreRecord(one, two) << "\r\n";
    }
    HeadlessOptions original;
    original.seed = storm * 7919;
    original.script = KeyStorm(storm);
    original.dataDir = played.str();
    const Outcome first = Play(original, 60000);

    // A third of the recordings are played as written before they said their format and rules.
    const std::string text =
        storm % 3 == 0 ? WithoutLines(first.recording, {"# format ", "# rules ", "# version "}) : first.recording;
    ASSERT_EQ(text.find("# rules") == std::string::npos, storm % 3 == 0);
    std::string error;
    const auto recording = ParseScript(text, "recording", error);
    ASSERT_TRUE(recording && recording->header.seed) << error;
    HeadlessOptions again;
    again.seed = *recording->header.seed;
    again.script = recording->events;
    again.files = recording->header.files;
    again.loads = recording->header.loads;
    again.dataDir = storm % 4 == 0 ? std::string() : empty.str();  // the table comes with the recording
    const Outcome second = Play(again, 60000);
    EXPECT_EQ(second.state, first.state) << "storm " << storm;
    EXPECT_TRUE(second.picture == first.picture) << "storm " << storm;

    // An entry of a table keeps the recording of its game: the recording up to that moment.
    for (const char* table : {"1p", "2p"}) {
      for (int entry = 1; entry <= 5; ++entry) {
        const auto kept = played.path() / "replays" / (std::string(table) + "-" + std::to_string(entry) + ".txt");
        if (!std::filesystem::exists(kept)) continue;
        ++entries;
        std::ifstream in(kept, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // It marks where the game that earned the entry began, and is otherwise the recording
        // up to that moment.
        std::string error2;
        const auto keptRecording = ParseScript(bytes, kept.string(), error2);
        ASSERT_TRUE(keptRecording && keptRecording->header.gameStartMs) << kept << error2;
        const std::string mark = "# game " + std::to_string(*keptRecording->header.gameStartMs) + "\n";
        std::string withoutMark = bytes;
        withoutMark.erase(withoutMark.find(mark), mark.size());
        EXPECT_EQ(first.recording.compare(0, withoutMark.size(), withoutMark), 0) << kept;
      }
    }
  }
  EXPECT_GT(entries, 0) << "no storm entered a table: the kept recordings went untested";
}

// What a recording's header says is trusted only when it can be: a second seed, a seed beyond
// 64 bits, other rules or a newer format are refused with the line; a byte-order mark is
// skipped; a recording from before the format and rules lines plays as of the present rules.
TEST(Recording, AHeaderIsTakenWholeOrRefused) {
  std::string error;
  auto ParseRecordingHeader = [](std::string_view text, const std::string& name, std::string& why) {
    auto script = ParseScript(text, name, why);
    return script ? std::optional<RecordingHeader>(std::move(script->header)) : std::nullopt;
  };
  auto old =
      ParseRecordingHeader("# quillmarsh-rall recording\n# seed 42\n# file T.dat missing\n0 tap Q\n", "r", error);
  ASSERT_TRUE(old) << error;
  EXPECT_EQ(old->seed, 42u);
  EXPECT_EQ(old->files.at("T.dat").status, LoadedFile::Status::Missing);
  EXPECT_FALSE(old->gameStartMs);

  auto bom = ParseRecordingHeader("\xEF\xBB\xBF# seed 7\n", "r", error);
  ASSERT_TRUE(bom) << error;
  EXPECT_EQ(bom->seed, 7u);

  auto marked = ParseRecordingHeader(
      "# format 2\n# rules 1\n# seed 1\n# game 5000\n10 tap Q\n6000 file T.dat hex 4142\n", "r", error);
  ASSERT_TRUE(marked) << error;
  EXPECT_EQ(marked->gameStartMs, 5000);
  ASSERT_EQ(marked->loads.size(), 1u);
  EXPECT_EQ(marked->loads[0].ms, 6000);
  EXPECT_EQ(marked->loads[0].file.bytes, "AB");

  const std::pair<const char*, const char*> refused[] = {
      {"# seed 1\n# seed 2\n", "r:2: a second seed"},
      {"# seed 18446744073709551616\n", "r:1: the seed '18446744073709551616' is not a number"},
      {"# seed -1\n", "r:1: the seed '-1'"},
      {"# rules 2\n", "r:1: recorded under other rules ('2'; this game plays rules 1)"},
      {"0 tap Q\n  # rules 0\n", "r:2: recorded under other rules ('0'"},
      {"# format 3\n", "r:1: a recording of format '3', newer than this game reads (2)"},
      {"10 file T.dat hex 4\n", "r:1: a file line that cannot be read"},
  };
  for (const auto& [text, why] : refused) {
    error.clear();
    EXPECT_FALSE(ParseRecordingHeader(text, "r", error)) << text;
    EXPECT_EQ(error.rfind(why, 0), 0u) << error;
  }
}

// A kept ranked game gives back the recording exactly as it was made, whatever the token line
// around it; the file still plays; a file that is not one, or was tampered with, is refused.
TEST(Recording, ARankedFileGivesBackItsRecordingAndToken) {
  const std::string recording = "# quillmarsh-rall recording\n# format 2\n# seed 42\n0 tap Q\n900 tap Enter\n";
  const std::string kept = RankedFileText(recording, "00ff3c");
  RankedFile ranked;
  std::string error;
  ASSERT_TRUE(ParseRankedFile(kept, ranked, error)) << error;
  EXPECT_EQ(ranked.recording, recording);
  EXPECT_EQ(ranked.token, "00ff3c");
  EXPECT_FALSE(ranked.runId);
  auto script = ParseScript(kept, "r", error);
  ASSERT_TRUE(script) << error;
  EXPECT_EQ(script->header.seed, 42u);

  const std::string sent = SentRankedFileText(kept, 17);
  ASSERT_TRUE(ParseRankedFile(sent, ranked, error)) << error;
  EXPECT_EQ(ranked.runId, 17);
  EXPECT_TRUE(ranked.token.empty());
  EXPECT_EQ(ranked.recording, recording);
  EXPECT_TRUE(ParseScript(sent, "r", error)) << error;

  // Saved again with Windows line ends: the token still reads, the line goes whole.
  ASSERT_TRUE(ParseRankedFile("# a\r\n# ranked-token abc\r\n0 tap Q\r\n", ranked, error)) << error;
  EXPECT_EQ(ranked.token, "abc");
  EXPECT_EQ(ranked.recording, "# a\r\n0 tap Q\r\n");

  const std::string large = "# ranked-token ab\n" + std::string(kMaxRankedRecording, '#') + "\n";
  for (const std::string& bad :
       std::vector<std::string>{recording, "# ranked-token ab\n# ranked-token cd\n" + recording,
                                "# ranked-token ab\n# ranked-run 3\n", "# ranked-token x1\n" + recording,
                                "# ranked-token \n", "# ranked-run 3x\n", "0 tap Q\n# ranked-token ab\n", large}) {
    error.clear();
    EXPECT_FALSE(ParseRankedFile(bad, ranked, error)) << bad.substr(0, 80);
    EXPECT_FALSE(error.empty());
  }
}

// A recording that cannot be written as the game goes is written whole at the end, once it can
// be; one that cannot be written at the end leaves the old file as it was. Nothing after a gap
// is ever appended.
TEST(Recording, AFileIsWrittenWholeOrLeftAsItWas) {
  TempDir tmp;
  const std::filesystem::path later = tmp.path() / "later";
  const std::string path = (later / "game.rec").string();
  {
    RecordingFile file(path);
    std::string error;
    EXPECT_FALSE(file.Keep("# header\n10 tap Q\n", error)) << "the directory is not there yet";
    EXPECT_FALSE(error.empty());
    std::filesystem::create_directories(later);  // the disk has room again
    EXPECT_FALSE(file.Keep("# header\n10 tap Q\n20 tap 1\n", error)) << "a gap is never followed by more";
    EXPECT_FALSE(std::filesystem::exists(file.PartPath()));
    EXPECT_TRUE(file.Finish("# header\n10 tap Q\n20 tap 1\n30 tap A\n", error)) << error;
    EXPECT_EQ(ReadBytes(path), "# header\n10 tap Q\n20 tap 1\n30 tap A\n");
    EXPECT_FALSE(std::filesystem::exists(file.PartPath()));
  }
  {
    // As the game goes the part file holds the recording so far; the old file stays until the end.
    RecordingFile file(path);
    std::string error;
    ASSERT_TRUE(file.Keep("# new\n5 tap Q\n", error)) << error;
    EXPECT_EQ(ReadBytes(file.PartPath()), "# new\n5 tap Q\n");
    EXPECT_EQ(ReadBytes(path), "# header\n10 tap Q\n20 tap 1\n30 tap A\n");
    // The end cannot replace the old file (a directory has taken its name meanwhile), which
    // stays as it is; the part file keeps the whole recording.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_FALSE(file.Finish("# new\n5 tap Q\n9 tap 1\n", error));
    EXPECT_NE(error.find("the whole recording is in"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(file.PartPath()), "# new\n5 tap Q\n9 tap 1\n");
    EXPECT_TRUE(std::filesystem::is_directory(path));
  }
}

// A replay plays the kept game of a recording at once from two seconds
// before its mark, and ends by itself once its input is spent and the game is back in the
// attract mode; the player's files are never written.
TEST(Recording, AReplayEndsWhenItsInputIsSpent) {
  TempDir played;
  HeadlessOptions original;
  original.seed = 99;
  original.dataDir = played.str();
  // Two coins, a one-player game lost by standing still, and the second coin left.
  original.script = {{100, ScriptEvent::Action::Tap, 'Q', 0},
                     {200, ScriptEvent::Action::Tap, 'Q', 0},
                     {400, ScriptEvent::Action::Tap, '1', 0},
                     {50000, ScriptEvent::Action::Tap, 'K', 0}};
  const Outcome first = Play(original, 200000);
  std::string error;
  auto recording = ParseScript(first.recording, "recording", error);
  ASSERT_TRUE(recording) << error;

  TempDir other;
  HeadlessOptions live;
  live.dataDir = other.str();
  live.runMs = 400000;
  WrappedGame<Replayer> replay(live, *recording, std::nullopt);
  EXPECT_TRUE(replay.Start()) << "the replay ended by itself";
  EXPECT_TRUE(replay.wrapper.Ended());
  EXPECT_LT(replay.machine.NowMs(), 200000);
  EXPECT_EQ(replay.host.Told().back(), "the replay has ended");
  EXPECT_TRUE(std::filesystem::is_empty(other.path())) << "a replay writes nothing";
}

}  // namespace qr
