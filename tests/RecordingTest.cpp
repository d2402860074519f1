// Recorded games: a game recorded with its seed, the files it read and its input plays again
// exactly, to the same state and the same picture, and a game that enters a table keeps its
// recording beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Probe.hpp"
#include "TempDir.hpp"
#include "platform/Recorder.hpp"

namespace qr {

namespace {

struct Outcome {
  std::string state;
  std::vector<std::uint32_t> picture;
  std::string recording;
};

Outcome Play(HeadlessOptions options, std::int64_t ms) {
  options.runMs = ms;
  HeadlessHost host(std::move(options));
  Recorder recorder(host, nullptr);
  Machine machine(recorder);
  frmRallex game(machine);
  bool exited = false;
  try {
    game.Form_Load();
    exited = true;
  } catch (const RunEnded&) {
  }
  Outcome out;
  out.state = game.StateJson(machine.NowMs(), exited, machine.Sounds());
  out.picture.resize(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight);
  machine.surface().ToRgb(out.picture.data());
  out.recording = machine.Recording();
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

    std::istringstream text(first.recording);
    std::string error;
    auto events = ParseScript(text, "recording", error);
    ASSERT_TRUE(events) << error;
    const auto header = ParseRecordingHeader(first.recording, "recording", error);
    ASSERT_TRUE(header && header->seed) << error;
    HeadlessOptions again;
    again.seed = *header->seed;
    again.script = *events;
    again.files = header->files;
    again.loads = header->loads;
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
        const auto keptHeader = ParseRecordingHeader(bytes, kept.string(), error2);
        ASSERT_TRUE(keptHeader && keptHeader->gameStartMs) << kept << error2;
        const std::string mark = "# game " + std::to_string(*keptHeader->gameStartMs) + "\n";
        std::string withoutMark = bytes;
        withoutMark.erase(withoutMark.find(mark), mark.size());
        EXPECT_EQ(first.recording.compare(0, withoutMark.size(), withoutMark), 0) << kept;
      }
    }
  }
  EXPECT_GT(entries, 0) << "no storm entered a table: the kept recordings went untested";
}

}  // namespace qr
