#pragma once
// Helpers shared by the tests of the rally, the match and the attract mode: keys at the virtual
// clock's present, runs of a loop watched pass by pass, and checks of what the playfield shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "Probe.hpp"
#include "machine/Font.hpp"
#include "machine/Surface.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr::kit {

using P = RallexProbe;
using Action = ScriptEvent::Action;

// The game's keys.
using vk::k1;
using vk::k2;
using vk::kA;
using vk::kDown;
using vk::kEsc;
using vk::kQ;
using vk::kSemicolon;
using vk::kUp;
using vk::kZ;

// A key event (or a focus loss) at the clock's present; the next poll or hand-over applies it.
inline void Now(StartedGame& s, Action action, int vk = 0) {
  s.platform.AddEvent(ScriptEvent{s.platform.NowMs(), action, vk, 0});
}
inline void Down(StartedGame& s, int vk) { Now(s, Action::Down, vk); }
inline void Up(StartedGame& s, int vk) { Now(s, Action::Up, vk); }
inline void Tap(StartedGame& s, int vk) { Now(s, Action::Tap, vk); }
inline void LoseFocus(StartedGame& s) { Now(s, Action::FocusLost); }

// Runs body (a loop of the game) with watch called at every Sleep. watch returns false to end
// the run right there. Returns true when body returned by itself, false when the run was ended.
// A run that goes on for an hour of virtual time fails the test instead of hanging it.
inline bool RunWatched(StartedGame& s, const std::function<void()>& body, const std::function<bool()>& watch) {
  const std::int64_t limit = s.platform.NowMs() + 3600 * 1000;
  s.platform.SetSleepHook([&s, &watch, limit] {
    if (!watch()) s.platform.SetRunMs(s.platform.NowMs());
    if (s.platform.NowMs() >= limit) {
      ADD_FAILURE() << "the loop ran for an hour of virtual time";
      s.platform.SetRunMs(s.platform.NowMs());
    }
  });
  bool returned = false;
  try {
    body();
    returned = true;
  } catch (const RunEnded&) {
  }
  s.platform.SetSleepHook(nullptr);
  s.platform.SetRunMs(std::numeric_limits<std::int64_t>::max());
  return returned;
}

// Runs the rally loop; watch is called after every pass with its number (1, 2, ...) and
// returns false to stop. Returns true when the loop returned by itself.
inline bool RallyPasses(StartedGame& s, const std::function<bool(int)>& watch) {
  const std::int64_t base = s.platform.Passes(LoopId::MainLoop);
  return RunWatched(
      s, [&s] { s.game.MainLoop(); },
      [&] { return watch(static_cast<int>(s.platform.Passes(LoopId::MainLoop) - base)); });
}

// A fresh game position as the start prompt would leave it: paddles centred, scores 0, the
// playfield cleared and redrawn, no timer but the coin timer armed.
inline void NewGame(StartedGame& s, std::int16_t players) {
  frmRallex& g = s.game;
  g.InitVariables();
  g.numPlayers = players;
  P::tmrGetReady(g).Enabled(false);
  P::tmrServe(g).Enabled(false);
  P::form(g).Cls();
  g.Update();
}

// Puts the ball at (x, y) heading in dir, in play and not missed, without drawing it.
inline void PlaceBall(frmRallex& g, std::int16_t x, std::int16_t y, std::int16_t dir) {
  P::ballX(g) = x;
  P::ballY(g) = y;
  g.ballDir = dir;
  g.missedBall = false;
}

// Puts a paddle with its centre at c.
inline void PlaceP1(frmRallex& g, std::int16_t c) {
  g.p1Center = c;
  g.p1y0 = static_cast<std::int16_t>(c - 20);
  g.p1y1 = static_cast<std::int16_t>(c + 20);
}
inline void PlaceP2(frmRallex& g, std::int16_t c) {
  g.p2Center = c;
  g.p2y0 = static_cast<std::int16_t>(c - 20);
  g.p2y1 = static_cast<std::int16_t>(c + 20);
}

// Pixels of the given colour in the box x0..x1, y0..y1 (inclusive).
inline int Count(const Surface& surface, int x0, int y0, int x1, int y1, std::uint32_t rgb = kSilver) {
  int n = 0;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) n += surface.Pixel(x, y) == rgb ? 1 : 0;
  }
  return n;
}

// The window font, for drawing the texts a test expects.
inline const Font& TestFont() {
  static const Font font(10, 96);
  return font;
}

inline int RowHeight() { return TestFont().Height(); }

inline int CentredX(std::string_view text) { return 155 - TestFont().TextWidth(text) / 2; }

// Whether the silver pixels around (x, y) are exactly those of text printed there in silver:
// nothing missing, nothing left over from an older text (the box reaches extra units to the right).
inline ::testing::AssertionResult ShowsText(const Surface& surface, int x, int y, std::string_view text,
                                            bool italic = false, int extra = 0) {
  Surface expected(TestFont());
  expected.Cls();
  expected.ForeColor(kSilver);
  expected.FontItalic(italic);
  expected.CurrentX = x;
  expected.CurrentY = y;
  expected.Print(text);
  const TextMask& mask = TestFont().Render(text, italic);
  const int right = x + std::max(mask.width, TestFont().TextWidth(text)) + extra;
  const int bottom = y + std::max(mask.height, RowHeight());
  int missing = 0;
  int stray = 0;
  for (int py = y; py < bottom; ++py) {
    for (int px = x; px < right; ++px) {
      const bool want = expected.Pixel(px, py) == kSilver;
      const bool have = surface.Pixel(px, py) == kSilver;
      if (want && !have) ++missing;
      if (have && !want) ++stray;
    }
  }
  if (missing == 0 && stray == 0 && Count(expected, x, y, right - 1, bottom - 1) > 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "\"" << text << "\" at (" << x << ", " << y << "): " << missing
                                       << " pixels missing, " << stray << " stray";
}

// Whether message row r shows text centred by the centring rule.
inline ::testing::AssertionResult RowShows(const Surface& surface, int row, std::string_view text) {
  return ShowsText(surface, CentredX(text), row * RowHeight(), text);
}

// Whether message row r is empty between the paddle columns.
inline bool RowEmpty(const Surface& surface, int row) {
  return Count(surface, 20, row * RowHeight(), 299, (row + 1) * RowHeight() - 1) == 0;
}

}  // namespace qr::kit
