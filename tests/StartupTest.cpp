// Start-up: the window settings, the tables, the default high scores, the grid over the
// picture, the coin timer around the attract loop and the end of the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Probe.hpp"
#include "hosts/shared/HostWrapper.hpp"

namespace qr {

namespace {

constexpr std::uint32_t kSilverRgb = 0xC0C0C0;

std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

// A headless twin that watches the start-up steps as they reach the host.
struct WatchedHost : HostWrapper {
  explicit WatchedHost(HeadlessOptions o) : HostWrapper(headless), headless(std::move(o)) {}

  void SetCaption(const std::string& caption) override { log.push_back("caption " + caption); }
  void ShowWindow() override {
    log.push_back("show");
    atShow.resize(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight);
    machine->surface().ToRgb(atShow.data());
    if (onShow) onShow();
    HostWrapper::ShowWindow();
  }
  void MovePointer(std::int32_t x, std::int32_t y) override {
    log.push_back("pointer " + std::to_string(x) + " " + std::to_string(y));
    atPointer.resize(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight);
    machine->surface().ToRgb(atPointer.data());
    HostWrapper::MovePointer(x, y);
  }
  std::uint64_t RandomSeed() override {
    log.push_back(std::string("seed, coin timer ") + (machine->timer(TimerId::Credit).Enabled() ? "on" : "off") +
                  ", credits " + std::to_string(game != nullptr ? game->credits : -1));
    return HostWrapper::RandomSeed();
  }
  void PlaySound(const std::string& name) override {
    log.push_back("sound '" + name + "', coin timer " + (machine->timer(TimerId::Credit).Enabled() ? "on" : "off"));
    HostWrapper::PlaySound(name);
  }

  HeadlessHost headless;
  Machine* machine = nullptr;
  frmRallex* game = nullptr;
  std::vector<std::string> log;
  std::vector<std::uint32_t> atShow;
  std::vector<std::uint32_t> atPointer;
  std::function<void()> onShow;
};

struct WatchedHostHolder {
  explicit WatchedHostHolder(HeadlessOptions o) : watched(std::move(o)) {}
  WatchedHost watched;
};

class WatchedPlatform : public WatchedHostHolder, public Machine {
 public:
  explicit WatchedPlatform(HeadlessOptions o) : WatchedHostHolder(std::move(o)), Machine(watched) {
    watched.machine = this;
  }
  void SetSleepHook(std::function<void()> hook) { watched.headless.SetSleepHook(std::move(hook)); }
};

HeadlessOptions EscAt(std::int64_t ms) {
  HeadlessOptions o;
  ScriptEvent esc;
  esc.ms = ms;
  esc.action = ScriptEvent::Action::Tap;
  esc.vk = 27;
  o.script.push_back(esc);
  return o;
}

}  // namespace

TEST(Startup, StepsInOrderFromSettingsToTheEnd) {
  WatchedPlatform p(EscAt(2000));
  frmRallex g(p);
  p.watched.game = &g;
  g.credits = 3;  // whatever was there, start-up counts from 0
  std::vector<std::string> atFirstSleep;
  p.SetSleepHook([&] {
    if (!atFirstSleep.empty()) return;
    const Timer& credit = p.timer(TimerId::Credit);
    atFirstSleep.push_back(credit.Enabled() ? "on" : "off");
    atFirstSleep.push_back(std::to_string(credit.Interval()));
    atFirstSleep.push_back(std::to_string(g.credits));
    atFirstSleep.push_back(std::to_string(g.slp) + " " + std::to_string(g.demoSlp));
  });
  g.Form_Load();  // Esc in the attract loop ends the program

  EXPECT_EQ(p.watched.log, (std::vector<std::string>{"caption Quillmarsh Rall", "show", "pointer 0 0",
                                                     "seed, coin timer off, credits 0", "sound '', coin timer off"}));
  EXPECT_EQ(atFirstSleep, (std::vector<std::string>{"on", "250", "0", "10 4"}));
  EXPECT_TRUE(RallexProbe::exitRequested(g));
  EXPECT_FALSE(p.timer(TimerId::Credit).Enabled());
  // The window settings stay for the whole program.
  Surface& form = RallexProbe::form(g);
  EXPECT_EQ(form.ForeColor(), kSilverRgb);
  EXPECT_EQ(form.DrawWidth(), 5);
  EXPECT_FALSE(form.FontItalic());
}

TEST(Startup, TablesAreFilledBeforeTheWindowShows) {
  WatchedPlatform p(EscAt(100));
  frmRallex g(p);
  bool checked = false;
  p.watched.onShow = [&] {
    checked = true;
    const auto& keys = RallexProbe::keys(g);
    EXPECT_EQ(keys, (std::array<std::int16_t, 10>{27, 65, 90, 186, 38, 40, 81, 49, 50, 0}));

    // The ball's steps: (dx, dy) by speed 1-3 and angle 1-6; speed 0 and angle 0 stay empty.
    const int table[7][3][2] = {{},
                                {{3, -3}, {4, -4}, {5, -5}},
                                {{4, -2}, {5, -3}, {6, -4}},
                                {{5, -1}, {6, -2}, {7, -3}},
                                {{5, 1}, {6, 2}, {7, 3}},
                                {{4, 2}, {5, 3}, {6, 4}},
                                {{3, 3}, {4, 4}, {5, 5}}};
    const auto& steps = RallexProbe::dirStep(g);
    for (int s = 0; s <= 3; ++s) {
      for (int k = 0; k <= 6; ++k) {
        const int dx = s == 0 || k == 0 ? 0 : table[k][s - 1][0];
        const int dy = s == 0 || k == 0 ? 0 : table[k][s - 1][1];
        EXPECT_EQ(steps[s][k].dx, dx) << "speed " << s << " angle " << k;
        EXPECT_EQ(steps[s][k].dy, dy) << "speed " << s << " angle " << k;
      }
    }

    // No high-score file here: the default tables.
    const auto& one = RallexProbe::hiScores(g);
    const auto& two = RallexProbe::hiScores2P(g);
    const int scores[6] = {0, 100, 75, 50, 25, 10};
    for (int i = 1; i <= 5; ++i) {
      EXPECT_EQ(one[i].initials, "...");
      EXPECT_EQ(one[i].score, scores[i]);
      EXPECT_EQ(two[i].initials, "...");
      EXPECT_EQ(two[i].score, 0);
      EXPECT_EQ(two[i].otherScore, 0);
    }
    EXPECT_TRUE(one[0].initials.empty());
    EXPECT_TRUE(two[0].initials.empty());
    EXPECT_FALSE(RallexProbe::exitRequested(g));
    EXPECT_EQ(g.slp, 10);
    EXPECT_EQ(g.demoSlp, 4);
  };
  g.Form_Load();
  EXPECT_TRUE(checked);
}

TEST(Startup, TextLinesCentredOneByOne) {
  StartedGame s;
  frmRallex& g = s.game;
  const auto& lines = RallexProbe::textLines(g);
  const Surface& form = RallexProbe::form(g);
  EXPECT_TRUE(lines[0].text.empty());
  EXPECT_EQ(lines[0].x, 0);
  for (int i = 1; i <= 18; ++i) {
    const int w = form.TextWidth(lines[i].text);
    EXPECT_EQ(lines[i].x, 155 - w / 2) << "line " << i << " '" << lines[i].text << "'";
  }
  for (int i = 19; i <= 25; ++i) {
    EXPECT_FALSE(lines[i].text.empty()) << i;
    EXPECT_EQ(lines[i].x, 0) << "line " << i;
  }
  // Empty lines are centred too: at 155.
  EXPECT_EQ(lines[3].x, 155);
  EXPECT_EQ(lines[6].x, 155);
  EXPECT_EQ(lines[1].text, "Quillmarsh Rall 1.0");
  // The picture lines keep every blank and backslash: their lengths in characters.
  const std::size_t lengths[] = {19, 18, 17, 25, 30, 33, 32, 29, 26, 27};
  for (int i = 9; i <= 18; ++i) EXPECT_EQ(CodePoints(lines[i].text), lengths[i - 9]) << "line " << i;
  // Lines of different width shift against each other.
  EXPECT_NE(lines[9].x, lines[13].x);
}

TEST(Startup, CentringRuleWithoutClamping) {
  StartedGame s;
  frmRallex& g = s.game;
  const Surface& form = RallexProbe::form(g);
  EXPECT_EQ(RallexProbe::CenteredX(g, ""), 155);
  EXPECT_EQ(RallexProbe::CenteredX(g, "Get Ready"), 155 - form.TextWidth("Get Ready") / 2);
  // Wider than the field: a negative x, not clamped.
  const std::string wide(40, 'W');
  ASSERT_GT(form.TextWidth(wide), 310);
  EXPECT_EQ(RallexProbe::CenteredX(g, wide), 155 - form.TextWidth(wide) / 2);
  EXPECT_LT(RallexProbe::CenteredX(g, wide), 0);
}

TEST(Startup, GridInSilverAfterTheWindowShows) {
  WatchedPlatform p(EscAt(100));
  frmRallex g(p);
  g.Form_Load();
  ASSERT_FALSE(p.watched.atShow.empty());
  ASSERT_FALSE(p.watched.atPointer.empty());
  // Shown with the bare picture.
  EXPECT_EQ(p.watched.atShow, ComposeBackground());

  // Right after the grid: seven rows and ten columns of width 5 in silver over the picture.
  const int rows[] = {0, 40, 80, 120, 160, 200, 240};
  const int cols[] = {1, 36, 71, 106, 141, 176, 211, 246, 281, 316};
  const std::vector<std::uint32_t> bg = ComposeBackground();
  int wrong = 0;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) {
      bool grid = false;
      for (int r : rows) grid = grid || std::abs(y - r) <= 2;
      for (int c : cols) grid = grid || std::abs(x - c) <= 2;
      const std::size_t i = static_cast<std::size_t>(y) * Surface::kWidth + x;
      const std::uint32_t expected = grid ? kSilverRgb : bg[i];
      if (p.watched.atPointer[i] != expected && ++wrong <= 5) ADD_FAILURE() << "pixel " << x << "," << y;
    }
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace qr
