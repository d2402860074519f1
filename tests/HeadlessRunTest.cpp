// The headless command line, run as its own process: exit codes, messages, outputs and
// determinism.
#include <gtest/gtest.h>
#include <png.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "game/scores/HiScoreRecord.hpp"
#include "helpers/Process.hpp"
#include "hosts/desktop/Png.hpp"
#include "hosts/headless/HeadlessHost.hpp"

namespace qr {

namespace fs = std::filesystem;

namespace {

// A fresh directory per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() / ("qr-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
                                         std::to_string(test::CurrentProcessId()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  // Names are UTF-8, as the game takes them (std::filesystem reads a plain string on Windows
  // otherwise).
  std::string operator/(const std::string& name) const {
    const std::u8string path = (path_ / std::u8string(name.begin(), name.end())).u8string();
    return std::string(path.begin(), path.end());
  }
  const fs::path& path() const { return path_; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(path_)) out.push_back(e.path().string());
    return out;
  }

 private:
  fs::path path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs the game with the given arguments in dir, with its data homes (HOME, XDG_DATA_HOME,
// APPDATA) pointing into it.
RunResult RunGame(const TempDir& dir, const std::vector<std::string>& args) {
  test::ProcessOptions o;
  o.dir = dir.path().string();
  o.env = {{"HOME", dir / "home"}, {"XDG_DATA_HOME", dir / "xdg"}, {"APPDATA", dir / "home"}};
  o.outFile = (fs::temp_directory_path() / ("qr-out-" + std::to_string(test::CurrentProcessId()))).string();
  o.errFile = o.outFile + ".err";
  std::vector<std::string> argv = {QR_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r;
  r.code = test::RunProcess(argv, o);
  r.out = ReadFile(o.outFile);
  r.err = ReadFile(o.errFile);
  fs::remove(o.outFile);
  fs::remove(o.errFile);
  return r;
}

// Decodes a PNG file into 0xRRGGBB values.
bool ReadPng(const std::string& path, int& width, int& height, std::vector<std::uint32_t>& rgb) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> buffer(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) return false;
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  rgb.resize(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    rgb[i] = (static_cast<std::uint32_t>(buffer[3 * i]) << 16) | (static_cast<std::uint32_t>(buffer[3 * i + 1]) << 8) |
             buffer[3 * i + 2];
  }
  return true;
}

}  // namespace

TEST(HeadlessRun, MalformedFlagsOrScriptsRunNothing) {
  TempDir dir;
  WriteFile(dir / "back.txt", "0 tap Q\n100 tap 1\n# a comment\n50 tap 2\n");
  WriteFile(dir / "key.txt", "0 tap Q\n\n10 down Shift\n");
  WriteFile(dir / "action.txt", "10 hold A\n");
  WriteFile(dir / "focus.txt", "10 focus-lost Esc\n");
  fs::create_directories(dir / "sdir");
  WriteFile(dir / "played.txt", "0 tap Q\n");
  WriteFile(dir / "twoseeds.txt", "# seed 5\n# seed 6\n0 tap Q\n");
  WriteFile(dir / "bigseed.txt", "# seed 18446744073709551616\n0 tap Q\n");
  WriteFile(dir / "rules.txt", "# rules 999\n0 tap Q\n");
#if !defined(_WIN32)
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const Case cases[] = {
    {{"--headless", "--bogus"}, "--bogus"},
    {{"--headless", "--seed"}, "--seed"},
    {{"--headless", "--seed", "abc"}, "--seed"},
    {{"--headless", "--run-ms", "-5"}, "--run-ms"},
    {{"--headless", "--script", "back.txt"}, "back.txt:4"},
    {{"--headless", "--script", "key.txt"}, "key.txt:3"},
    {{"--headless", "--script", "action.txt"}, "action.txt:1"},
    {{"--headless", "--script", "focus.txt"}, "focus.txt:1"},
    {{"--headless", "--script", "missing.txt"}, "missing.txt"},
    {{"--headless", "--script", "sdir"}, "sdir"},                        // a directory is no script
    {{"--headless", "--script", "/dev/zero"}, "/dev/zero:1: too long"},  // refused at once, not read on
    {{"--headless", "--script", "twoseeds.txt"}, "twoseeds.txt:2: a second seed"},
    {{"--headless", "--script", "bigseed.txt"}, "bigseed.txt:1: the seed"},
    {{"--headless", "--script", "rules.txt"}, "rules.txt:1: recorded under other rules"},
    {{"--replay", "rules.txt"}, "rules.txt:1: recorded under other rules"},  // before the window opens
    {{"--headless", "--record", "a.rec", "--record", "b.rec"}, "--record is given twice"},
    {{"--headless", "--script", "played.txt", "--record", "played.txt"}, "names the file being played"},
    {{"--headless", "--record", "nodir/a.rec"}, "nodir/a.rec cannot be written: no such directory"},
    {{"--headless", "--record", "sdir"}, "sdir cannot be written: not a regular file"},
#if !defined(_WIN32)
    {{"--headless", "--record", "/dev/full"}, "/dev/full cannot be written: not a regular file"},
    // Nothing waits for a reader that never comes.
    {{"--headless", "--record", "fifo"}, "fifo cannot be written: not a regular file"},
#endif
  };
  for (const Case& c : cases) {
    if (c.named.rfind("/dev/", 0) == 0 && !fs::exists(c.named.substr(0, c.named.find_first_of(": ")))) continue;
    std::vector<std::string> args = c.args;
    for (const char* extra : {"--screenshot", "shot.png", "--state", "state.json"}) args.push_back(extra);
    // The flags under test come last, so that a missing value stays missing.
    std::rotate(args.begin(), args.begin() + static_cast<long>(c.args.size()), args.end());
    const RunResult r = RunGame(dir, args);
    EXPECT_EQ(r.code, 2) << c.named << ": " << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // one line
    EXPECT_FALSE(fs::exists(dir / "shot.png")) << c.named;
    EXPECT_FALSE(fs::exists(dir / "state.json")) << c.named;
  }
  EXPECT_EQ(ReadFile(dir / "played.txt"), "0 tap Q\n") << "the recording being played is left whole";
  EXPECT_FALSE(fs::exists(dir / "a.rec"));
}

TEST(HeadlessRun, HelpPrintsBothModes) {
  TempDir dir;
  const RunResult r = RunGame(dir, {"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* flag : {"--headless", "--script", "--run-ms", "--screenshot", "--state", "--seed", "--scale"})
    EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
}

TEST(HeadlessRun, SameSeedAndScriptGiveTheSameBytes) {
  TempDir dir;
  // A coin, a one-player game with some play, then the clock runs out.
  WriteFile(dir / "game.txt",
            "200 tap Q\n"
            "500 tap 1\n"
            "3000 down A\n"
            "3300 up A\n"
            "3400 down Semicolon\n"
            "3900 up Semicolon\n"
            "6000 tap Z\n");
  const std::vector<std::string> common = {"--headless", "--seed", "7", "--script", "game.txt", "--run-ms", "8000"};
  auto withOutputs = [&](const std::string& tag) {
    std::vector<std::string> a = common;
    for (const std::string& s : {std::string("--screenshot"), tag + ".png", std::string("--state"), tag + ".json"})
      a.push_back(s);
    return a;
  };
  const RunResult a = RunGame(dir, withOutputs("a"));
  const RunResult b = RunGame(dir, withOutputs("b"));
  ASSERT_EQ(a.code, 0) << a.err;
  ASSERT_EQ(b.code, 0) << b.err;
  const std::string pngA = ReadFile(dir / "a.png");
  const std::string jsonA = ReadFile(dir / "a.json");
  ASSERT_FALSE(pngA.empty());
  ASSERT_FALSE(jsonA.empty());
  EXPECT_EQ(pngA, ReadFile(dir / "b.png"));
  EXPECT_EQ(jsonA, ReadFile(dir / "b.json"));

  const auto state = nlohmann::json::parse(jsonA);
  EXPECT_EQ(state["numPlayers"], 1);  // the script did start a game
  EXPECT_EQ(state["credits"], 0);

  // Another seed plays another game.
  std::vector<std::string> other = withOutputs("c");
  other[2] = "8";
  ASSERT_EQ(RunGame(dir, other).code, 0);
  EXPECT_NE(ReadFile(dir / "c.json"), jsonA);
}

TEST(HeadlessRun, StateHoldsEveryFieldWithItsType) {
  TempDir dir;
  // Names in any script reach the files whole (on Windows too, whatever its code page).
  fs::create_directories(dir.path() / u8"Жd");
  const RunResult r =
      RunGame(dir, {"--headless", "--run-ms", "3000", "--state", "Жd/s.json", "--screenshot", "Жd/ы.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto j = nlohmann::json::parse(ReadFile(dir / "Жd/s.json"));
  ASSERT_TRUE(j.is_object());
  // The clock stops at the first sleep that reaches the end of the run.
  EXPECT_GE(j["timeMs"].get<std::int64_t>(), 3000);
  EXPECT_LT(j["timeMs"].get<std::int64_t>(), 3010);
  EXPECT_EQ(j["exited"], false);
  for (const char* b : {"exited", "movingBall", "missedBall", "waitForServe", "endGame", "creditLock", "exitRequested"})
    EXPECT_TRUE(j.contains(b) && j[b].is_boolean()) << b;
  for (const char* n : {"timeMs",    "waitForServeTimeout",
                        "credits",   "numPlayers",
                        "paddles",   "p1Score",
                        "p2Score",   "p1Center",
                        "p2Center",  "p1y0",
                        "p1y1",      "p2y0",
                        "p2y1",      "pSpeed",
                        "ballSpeed", "ballDir",
                        "ballX",     "ballY",
                        "pHitOfs",   "infCount",
                        "demoLevel", "lastKeyCode"})
    EXPECT_TRUE(j.contains(n) && j[n].is_number_integer()) << n;
  EXPECT_TRUE(j["enteredInitials"].is_string());
  ASSERT_TRUE(j["msgLines"].is_array());
  EXPECT_EQ(j["msgLines"].size(), 11u);
  for (const auto& line : j["msgLines"]) EXPECT_TRUE(line.is_string());
  ASSERT_EQ(j["hiScores"].size(), 5u);
  ASSERT_EQ(j["hiScores2P"].size(), 5u);
  const int defaults[] = {100, 75, 50, 25, 10};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(j["hiScores"][i]["initials"], "...");
    EXPECT_EQ(j["hiScores"][i]["score"], defaults[i]);
    EXPECT_EQ(j["hiScores2P"][i]["initials"], "...");
    EXPECT_EQ(j["hiScores2P"][i]["score"], 0);
    EXPECT_EQ(j["hiScores2P"][i]["otherScore"], 0);
  }
  EXPECT_TRUE(j["sounds"].is_array());
  EXPECT_EQ(j["numPlayers"], 0);  // the attract mode
  EXPECT_EQ(j["demoLevel"], 1);

  // The screenshot: 319 x 239, one pixel per unit.
  int w = 0;
  int h = 0;
  std::vector<std::uint32_t> rgb;
  ASSERT_TRUE(ReadPng(dir / "Жd/ы.png", w, h, rgb));
  EXPECT_EQ(w, 319);
  EXPECT_EQ(h, 239);
  EXPECT_EQ(rgb[30 * 319 + 100], 0xC0C0C0u);  // the top border line
}

TEST(HeadlessRun, EscEndsTheProgramByItself) {
  TempDir dir;
  WriteFile(dir / "esc.txt", "1000 tap Esc\n");
  const RunResult r = RunGame(dir, {"--headless", "--script", "esc.txt", "--state", "s.json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto j = nlohmann::json::parse(ReadFile(dir / "s.json"));
  EXPECT_EQ(j["exited"], true);
  EXPECT_EQ(j["exitRequested"], true);
  EXPECT_GE(j["timeMs"].get<std::int64_t>(), 1000);
  EXPECT_LT(j["timeMs"].get<std::int64_t>(), 1100);
  // The program's last request stops the sound.
  ASSERT_FALSE(j["sounds"].empty());
  EXPECT_EQ(j["sounds"].back(), "");
}

TEST(HeadlessRun, FocusLossAndCloseEndTheProgram) {
  TempDir dir;
  WriteFile(dir / "focus.txt", "500 focus-lost\n");
  WriteFile(dir / "close.txt", "700 close\n");
  for (const char* script : {"focus.txt", "close.txt"}) {
    const RunResult r = RunGame(dir, {"--headless", "--script", script, "--state", "s.json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(ReadFile(dir / "s.json"));
    EXPECT_EQ(j["exited"], true) << script;
    EXPECT_LT(j["timeMs"].get<std::int64_t>(), 1000) << script;
  }
}

TEST(HeadlessRun, WithoutADataDirectoryNoFileIsTouched) {
  TempDir dir;
  fs::create_directories(dir / "home");
  fs::create_directories(dir / "xdg");
  // A coin and a whole one-player game lost by standing still, then more attract mode.
  WriteFile(dir / "game.txt", "100 tap Q\n400 tap 1\n");
  const RunResult r = RunGame(dir, {"--headless", "--script", "game.txt", "--run-ms", "120000"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{dir / "game.txt", dir / "home", dir / "xdg"}));
}

// --record replaces its file only with a whole recording: a run that cannot start leaves the
// old one as it was, and one that ends leaves no part file behind.
TEST(HeadlessRun, ARecordingReplacesItsFileOnlyWhole) {
  TempDir dir;
  WriteFile(dir / "old.rec", "an old recording");
#if !defined(_WIN32)
  {
    // No display for the window.
    test::ProcessOptions o;
    o.dir = dir.path().string();
    o.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", "x11"}, {"HOME", dir / "home"}};
    o.errFile = dir / "err.txt";
    EXPECT_EQ(test::RunProcess({QR_EXE, "--record", "old.rec", "--mute"}, o), 1) << ReadFile(dir / "err.txt");
    EXPECT_EQ(ReadFile(dir / "old.rec"), "an old recording");
  }
#endif
  WriteFile(dir / "game.txt", "100 tap Q\n400 tap 1\n");
  const RunResult r = RunGame(dir, {"--headless", "--script", "game.txt", "--run-ms", "3000", "--record", "old.rec"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string recording = ReadFile(dir / "old.rec");
  EXPECT_EQ(recording.rfind("# quillmarsh-rall recording", 0), 0u) << recording;
  EXPECT_NE(recording.find("\n# seed 1\n"), std::string::npos) << recording;
  EXPECT_NE(recording.find(" tap 1\n"), std::string::npos) << recording;
  EXPECT_FALSE(fs::exists(dir / "old.rec.part"));
}

// Two games at once on one data directory, round after round: both play the same two-player
// game (player 2 holds Down, player 1 wins 6-2), and their winners type their initials with
// keys that play no part in the game, one K, L and M, the other X, Y and W. Whichever saves
// first takes entry 1 and the other entry 2 (6 does not beat 6); each entry keeps its own game.
TEST(HeadlessRun, TwoGamesAtOnceOnOneTableLoseNoEntry) {
  TempDir dir;
  auto script = [](const std::string& letters) {
    std::string text = "100 tap Q\n700 tap Q\n1300 tap 2\n1400 down Down\n";
    for (int t = 3000; t < 200000; t += 300) {
      for (int i = 0; i < 3; ++i) text += std::to_string(t + 50 * i) + " tap " + letters[i] + "\n";
      text += std::to_string(t + 150) + " tap Enter\n";
    }
    return text;
  };
  WriteFile(dir / "k.txt", script("KLM"));
  WriteFile(dir / "x.txt", script("XYW"));
  auto lettersOf = [](const std::string& initials) {
    if (initials.find_first_not_of("KLM") == std::string::npos) return 'K';
    if (initials.find_first_not_of("XYW") == std::string::npos) return 'X';
    return '?';
  };
  constexpr int kRounds = 20;
  int kFirst = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string data = dir / ("data" + std::to_string(round));
    std::vector<std::thread> games;
    int codes[2] = {-1, -1};
    for (int g = 0; g < 2; ++g) {
      games.emplace_back([&, g] {
        test::ProcessOptions o;
        o.dir = dir.path().string();
        o.errFile = dir / ("err" + std::to_string(g) + ".txt");
        codes[g] = test::RunProcess(
            {QR_EXE, "--headless", "--script", g == 0 ? "k.txt" : "x.txt", "--run-ms", "200000", "--data-dir", data},
            o);
      });
    }
    for (std::thread& t : games) t.join();
    ASSERT_EQ(codes[0], 0) << ReadFile(dir / "err0.txt");
    ASSERT_EQ(codes[1], 0) << ReadFile(dir / "err1.txt");
    HiScoreTable one;
    HiScoreTable2P two;
    ASSERT_TRUE(ParseHiScoreFile(ReadFile(data + "/QuillmarshRall.dat"), one, two)) << "round " << round;
    const char first = lettersOf(two[1].initials);
    const char second = lettersOf(two[2].initials);
    ASSERT_TRUE((first == 'K' && second == 'X') || (first == 'X' && second == 'K'))
        << "round " << round << ": " << two[1].initials << ", " << two[2].initials;
    EXPECT_EQ(two[1].score, 6);
    EXPECT_EQ(two[2].score, 6);
    EXPECT_EQ(two[2].otherScore, 2);
    // Each recording is numbered with its entry.
    const std::string tap = std::string(" tap ") + first + "\n";
    EXPECT_NE(ReadFile(data + "/replays/2p-1.txt").find(tap), std::string::npos) << "round " << round;
    EXPECT_EQ(ReadFile(data + "/replays/2p-2.txt").find(tap), std::string::npos) << "round " << round;
    if (first == 'K') ++kFirst;
  }
  std::printf("%d rounds: the K game saved first %d times, the X game %d times\n", kRounds, kFirst, kRounds - kFirst);
}

TEST(HeadlessRun, OutputsThatCannotBeWrittenAreReported) {
  TempDir dir;
  fs::create_directories(dir / "adir");
  const RunResult state = RunGame(dir, {"--headless", "--run-ms", "100", "--state", "nowhere/s.json"});
  EXPECT_NE(state.code, 0);
  EXPECT_NE(state.err.find("nowhere/s.json"), std::string::npos) << state.err;
  const RunResult shot = RunGame(dir, {"--headless", "--run-ms", "100", "--screenshot", "adir"});
  EXPECT_NE(shot.code, 0);
  EXPECT_NE(shot.err.find("adir"), std::string::npos) << shot.err;
#if !defined(_WIN32)
  // A FIFO nobody reads would keep the end of the run waiting for good: refused before the run.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const char* flag : {"--state", "--screenshot"}) {
    const RunResult fifo = RunGame(dir, {"--headless", "--run-ms", "100", flag, "fifo"});
    EXPECT_EQ(fifo.code, 2) << flag;
    EXPECT_NE(fifo.err.find("fifo cannot be written: not a regular file"), std::string::npos) << fifo.err;
  }
#endif
  // A device, refused before the run (a full disk is the recording's test's).
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(RunGame(dir, {"--headless", "--run-ms", "100", "--state", "/dev/full"}).code, 2);
    EXPECT_EQ(RunGame(dir, {"--headless", "--run-ms", "100", "--screenshot", "/dev/full"}).code, 2);
  }
}

// In the same process: the PNG holds exactly the surface's pixels.
TEST(Png, WritesTheSurfaceOneToOne) {
  TempDir dir;
  HeadlessMachine platform(HeadlessOptions{});
  Surface& s = platform.surface();
  s.ForeColor(0xC0C0C0);
  s.DrawWidth(5);
  s.Line(0, 0, 318, 238);
  s.Print("Credit 01");
  std::string error;
  ASSERT_TRUE(WritePng(dir / "p.png", s, 1, error)) << error;
  int w = 0;
  int h = 0;
  std::vector<std::uint32_t> rgb;
  ASSERT_TRUE(ReadPng(dir / "p.png", w, h, rgb));
  ASSERT_EQ(w, Surface::kWidth);
  ASSERT_EQ(h, Surface::kHeight);
  std::vector<std::uint32_t> expected(rgb.size());
  s.ToRgb(expected.data());
  EXPECT_EQ(rgb, expected);

  // Scaled up: each unit a square of pixels.
  ASSERT_TRUE(WritePng(dir / "p2.png", s, 3, error)) << error;
  std::vector<std::uint32_t> big;
  ASSERT_TRUE(ReadPng(dir / "p2.png", w, h, big));
  ASSERT_EQ(w, 3 * Surface::kWidth);
  ASSERT_EQ(h, 3 * Surface::kHeight);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(big[static_cast<std::size_t>(y) * w + x],
                expected[static_cast<std::size_t>(y / 3) * Surface::kWidth + x / 3])
          << x << "," << y;
    }
  }

  EXPECT_FALSE(WritePng(dir / "no/p.png", s, 1, error));
  EXPECT_NE(error.find("no/p.png"), std::string::npos);
}

}  // namespace qr
