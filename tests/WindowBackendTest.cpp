// The window backend's pure parts: the key map, the scale and letterbox arithmetic, the pacing,
// the pass statistics, the pads and the screenshot file; and how the window ends on a signal.
#include <gtest/gtest.h>
#include <png.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hosts/sdl/FocusGrace.hpp"
#include "hosts/sdl/FocusPause.hpp"
#include "hosts/sdl/KeyMap.hpp"
#include "hosts/sdl/Screenshot.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/sdl/ThreadBridge.hpp"
#include "hosts/sdl/Viewport.hpp"
#include "hosts/shared/Gamepads.hpp"
#include "hosts/shared/InputQueue.hpp"
#include "hosts/shared/Pacer.hpp"
#include "hosts/shared/PassStats.hpp"
#include "hosts/shared/TouchControls.hpp"
#include "machine/Font.hpp"
#include "machine/Surface.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The keycode a US layout gives a key: the character it types, or a code made from the scancode.
SDL_Keycode UsKeycode(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return SDLK_a + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return SDLK_1 + (sc - SDL_SCANCODE_1);
  switch (sc) {
    case SDL_SCANCODE_0:
      return SDLK_0;
    case SDL_SCANCODE_RETURN:
      return SDLK_RETURN;
    case SDL_SCANCODE_ESCAPE:
      return SDLK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE:
      return SDLK_BACKSPACE;
    case SDL_SCANCODE_TAB:
      return SDLK_TAB;
    case SDL_SCANCODE_SPACE:
      return SDLK_SPACE;
    case SDL_SCANCODE_MINUS:
      return SDLK_MINUS;
    case SDL_SCANCODE_EQUALS:
      return SDLK_EQUALS;
    case SDL_SCANCODE_LEFTBRACKET:
      return SDLK_LEFTBRACKET;
    case SDL_SCANCODE_RIGHTBRACKET:
      return SDLK_RIGHTBRACKET;
    case SDL_SCANCODE_BACKSLASH:
      return SDLK_BACKSLASH;
    case SDL_SCANCODE_SEMICOLON:
      return SDLK_SEMICOLON;
    case SDL_SCANCODE_APOSTROPHE:
      return SDLK_QUOTE;
    case SDL_SCANCODE_GRAVE:
      return SDLK_BACKQUOTE;
    case SDL_SCANCODE_COMMA:
      return SDLK_COMMA;
    case SDL_SCANCODE_PERIOD:
      return SDLK_PERIOD;
    case SDL_SCANCODE_SLASH:
      return SDLK_SLASH;
    default:
      return SDL_SCANCODE_TO_KEYCODE(sc);
  }
}

int UsKey(SDL_Scancode sc) { return VirtualKeyFor(sc, UsKeycode(sc)); }

}  // namespace

TEST(KeyMap, TheGamesKeysOnAUsKeyboard) {
  EXPECT_EQ(UsKey(SDL_SCANCODE_ESCAPE), 27);
  EXPECT_EQ(UsKey(SDL_SCANCODE_A), 65);
  EXPECT_EQ(UsKey(SDL_SCANCODE_Z), 90);
  EXPECT_EQ(UsKey(SDL_SCANCODE_SEMICOLON), 186);
  EXPECT_EQ(UsKey(SDL_SCANCODE_UP), 38);
  EXPECT_EQ(UsKey(SDL_SCANCODE_DOWN), 40);
  EXPECT_EQ(UsKey(SDL_SCANCODE_Q), 81);
  EXPECT_EQ(UsKey(SDL_SCANCODE_1), 49);
  EXPECT_EQ(UsKey(SDL_SCANCODE_2), 50);
}

TEST(KeyMap, InitialsEntryKeys) {
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(UsKey(static_cast<SDL_Scancode>(SDL_SCANCODE_A + i)), 65 + i) << "letter " << i;
  }
  EXPECT_EQ(UsKey(SDL_SCANCODE_0), 48);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(UsKey(static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i)), 49 + i);
  EXPECT_EQ(UsKey(SDL_SCANCODE_SPACE), 32);
  EXPECT_EQ(UsKey(SDL_SCANCODE_BACKSPACE), 8);
  EXPECT_EQ(UsKey(SDL_SCANCODE_LEFT), 37);
  EXPECT_EQ(UsKey(SDL_SCANCODE_RIGHT), 39);
  EXPECT_EQ(UsKey(SDL_SCANCODE_RETURN), 13);
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_ENTER), 13);  // Windows gives both Enter keys one code
  EXPECT_EQ(UsKey(SDL_SCANCODE_TAB), 9);
}

TEST(KeyMap, PunctuationKeysByPosition) {
  const std::pair<SDL_Scancode, int> oem[] = {
      {SDL_SCANCODE_SEMICOLON, 186},    {SDL_SCANCODE_EQUALS, 187},      {SDL_SCANCODE_COMMA, 188},
      {SDL_SCANCODE_MINUS, 189},        {SDL_SCANCODE_PERIOD, 190},      {SDL_SCANCODE_SLASH, 191},
      {SDL_SCANCODE_GRAVE, 192},        {SDL_SCANCODE_LEFTBRACKET, 219}, {SDL_SCANCODE_BACKSLASH, 220},
      {SDL_SCANCODE_RIGHTBRACKET, 221}, {SDL_SCANCODE_APOSTROPHE, 222},
  };
  for (const auto& [sc, vk] : oem) EXPECT_EQ(UsKey(sc), vk) << SDL_GetScancodeName(sc);
  // The key right of L is the semicolon key whatever it types on the layout in use.
  EXPECT_EQ(VirtualKeyFor(SDL_SCANCODE_SEMICOLON, 0xF6 /* o umlaut */), 186);
}

TEST(KeyMap, LettersFollowTheLayout) {
  // French layout: the key in the US Q position types "a", and the US M position types ",".
  EXPECT_EQ(VirtualKeyFor(SDL_SCANCODE_Q, SDLK_a), 65);
  EXPECT_EQ(VirtualKeyFor(SDL_SCANCODE_A, SDLK_q), 81);
  EXPECT_EQ(VirtualKeyFor(SDL_SCANCODE_SEMICOLON, SDLK_m), 77);
  EXPECT_EQ(VirtualKeyFor(SDL_SCANCODE_M, SDLK_COMMA), 188);
  // Digits go by position: on a French keyboard the 1 key types "&" without Shift.
  EXPECT_EQ(VirtualKeyFor(SDL_SCANCODE_1, SDLK_AMPERSAND), 49);
}

TEST(KeyMap, KeypadFunctionAndEditingKeys) {
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_0), 96);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(UsKey(static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + i)), 97 + i);
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_MULTIPLY), 106);
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_PLUS), 107);
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_MINUS), 109);
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_PERIOD), 110);
  EXPECT_EQ(UsKey(SDL_SCANCODE_KP_DIVIDE), 111);
  EXPECT_EQ(UsKey(SDL_SCANCODE_F1), 112);
  EXPECT_EQ(UsKey(SDL_SCANCODE_F12), 123);
  EXPECT_EQ(UsKey(SDL_SCANCODE_F13), 124);
  EXPECT_EQ(UsKey(SDL_SCANCODE_F24), 135);
  EXPECT_EQ(UsKey(SDL_SCANCODE_INSERT), 45);
  EXPECT_EQ(UsKey(SDL_SCANCODE_DELETE), 46);
  EXPECT_EQ(UsKey(SDL_SCANCODE_HOME), 36);
  EXPECT_EQ(UsKey(SDL_SCANCODE_END), 35);
  EXPECT_EQ(UsKey(SDL_SCANCODE_PAGEUP), 33);
  EXPECT_EQ(UsKey(SDL_SCANCODE_PAGEDOWN), 34);
  EXPECT_EQ(UsKey(SDL_SCANCODE_CAPSLOCK), 20);
}

TEST(KeyMap, BothModifierKeysShareACode) {
  EXPECT_EQ(UsKey(SDL_SCANCODE_LSHIFT), 16);
  EXPECT_EQ(UsKey(SDL_SCANCODE_RSHIFT), 16);
  EXPECT_EQ(UsKey(SDL_SCANCODE_LCTRL), 17);
  EXPECT_EQ(UsKey(SDL_SCANCODE_RCTRL), 17);
  EXPECT_EQ(UsKey(SDL_SCANCODE_LALT), 18);
  EXPECT_EQ(UsKey(SDL_SCANCODE_RALT), 18);
}

TEST(KeyMap, KeysWithoutAWindowsCodeGiveZero) {
  EXPECT_EQ(UsKey(SDL_SCANCODE_UNKNOWN), 0);
  EXPECT_EQ(UsKey(SDL_SCANCODE_MUTE), 0);
  EXPECT_EQ(UsKey(SDL_SCANCODE_AUDIONEXT), 0);
}

TEST(KeyMap, TheWindowKeepsF11F12AndAltEnter) {
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_F11, KMOD_NONE), WindowKey::Fullscreen);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_F11, KMOD_LSHIFT), WindowKey::Fullscreen);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_F12, KMOD_NONE), WindowKey::Screenshot);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_RETURN, KMOD_LALT), WindowKey::Fullscreen);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_RETURN, KMOD_RALT | KMOD_NUM), WindowKey::Fullscreen);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_KP_ENTER, KMOD_LALT), WindowKey::Fullscreen);
  // The game's own keys, Enter without Alt and Alt alone among them.
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_RETURN, KMOD_NONE), WindowKey::None);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_RETURN, KMOD_LCTRL | KMOD_CAPS), WindowKey::None);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_LALT, KMOD_LALT), WindowKey::None);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_F10, KMOD_NONE), WindowKey::None);
  EXPECT_EQ(WindowKeyFor(SDL_SCANCODE_ESCAPE, KMOD_LALT), WindowKey::None);
}

TEST(Viewport, WholeScalesFillTheWindowExactly) {
  for (int s = 1; s <= 8; ++s) {
    const Viewport v = FitPlayfield(Surface::kWidth * s, Surface::kHeight * s);
    EXPECT_EQ(v.scale, s);
    EXPECT_EQ(v.x, 0);
    EXPECT_EQ(v.y, 0);
    EXPECT_EQ(v.w, Surface::kWidth * s);
    EXPECT_EQ(v.h, Surface::kHeight * s);
  }
}

TEST(Viewport, OddSizesTakeTheLargestWholeScaleCentred) {
  // One pixel short of 3x in width: 2x, centred with the odd pixel to the right and below.
  Viewport v = FitPlayfield(956, 717);
  EXPECT_EQ(v.scale, 2);
  EXPECT_EQ(v.w, 638);
  EXPECT_EQ(v.h, 478);
  EXPECT_EQ(v.x, 159);  // (956 - 638) / 2
  EXPECT_EQ(v.y, 119);  // (717 - 478) / 2
  // A full-HD screen: 4x, black bars on all sides.
  v = FitPlayfield(1920, 1080);
  EXPECT_EQ(v.scale, 4);
  EXPECT_EQ(v.x, (1920 - 1276) / 2);
  EXPECT_EQ(v.y, (1080 - 956) / 2);
}

TEST(Viewport, VeryWideAndVeryTallAreas) {
  Viewport v = FitPlayfield(5000, 300);  // the height decides
  EXPECT_EQ(v.scale, 1);
  EXPECT_EQ(v.h, 239);
  EXPECT_EQ(v.x, (5000 - 319) / 2);
  v = FitPlayfield(700, 4000);  // the width decides
  EXPECT_EQ(v.scale, 2);
  EXPECT_EQ(v.w, 638);
  EXPECT_EQ(v.y, (4000 - 478) / 2);
}

TEST(Viewport, SmallerThanOnePixelPerUnitShrinksKeepingTheShape) {
  Viewport v = FitPlayfield(200, 400);  // narrow: full width
  EXPECT_EQ(v.scale, 0);
  EXPECT_EQ(v.w, 200);
  EXPECT_EQ(v.h, 200 * 239 / 319);
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, (400 - v.h) / 2);
  v = FitPlayfield(318, 100);  // wide: full height
  EXPECT_EQ(v.scale, 0);
  EXPECT_EQ(v.h, 100);
  EXPECT_EQ(v.w, 100 * 319 / 239);
  EXPECT_EQ(v.y, 0);
  EXPECT_EQ(v.x, (318 - v.w) / 2);
  v = FitPlayfield(1, 1);  // never less than a pixel
  EXPECT_EQ(v.w, 1);
  EXPECT_EQ(v.h, 1);
}

TEST(Viewport, NoAreaNoPicture) {
  for (const auto& [w, h] : {std::pair{0, 0}, std::pair{0, 500}, std::pair{500, 0}, std::pair{-3, 200}}) {
    const Viewport v = FitPlayfield(w, h);
    EXPECT_EQ(v.w, 0);
    EXPECT_EQ(v.h, 0);
  }
}

TEST(StartScale, LargestUpToFourThatFitsTheDesktop) {
  EXPECT_EQ(StartScale(0, 1920, 1040), 4);  // 1276 x 956
  EXPECT_EQ(StartScale(0, 3840, 2160), 4);  // never more than 4 unless asked
  EXPECT_EQ(StartScale(0, 1366, 728), 3);   // 957 x 717
  EXPECT_EQ(StartScale(0, 1276, 955), 3);   // a pixel short of 4x
  EXPECT_EQ(StartScale(0, 800, 600), 2);
  EXPECT_EQ(StartScale(0, 640, 480), 2);
  EXPECT_EQ(StartScale(0, 637, 480), 1);
  EXPECT_EQ(StartScale(0, 300, 200), 1);  // even 1x does not fit: 1 all the same
  EXPECT_EQ(StartScale(0, 0, 0), 1);      // desktop unknown
}

TEST(StartScale, TheWindowManagersFrameFitsTooAndIsCentred) {
  // 4x is 956 high: on 1280 x 1024 with a panel of 40 it fits, but not with a title bar of 30.
  const DesktopRect usable{0, 40, 1280, 984};
  EXPECT_EQ(PlaceWindow(usable, Borders{}).scale, 4);
  const WindowPlace p = PlaceWindow(usable, Borders{30, 2, 2, 2});
  EXPECT_EQ(p.scale, 3);                      // 957 x 717
  EXPECT_EQ(p.x - 2, (1280 - 961) / 2);       // the frame's left edge
  EXPECT_EQ(p.y - 30, 40 + (984 - 749) / 2);  // the title bar's top, below the panel
  // Not even 1x fits: the frame's top left stays on the desktop.
  const WindowPlace tiny = PlaceWindow(DesktopRect{100, 50, 300, 200}, Borders{20, 1, 1, 1});
  EXPECT_EQ(tiny.scale, 1);
  EXPECT_EQ(tiny.x, 101);
  EXPECT_EQ(tiny.y, 70);
}

TEST(StartScale, AnAskedScaleIsKept) {
  EXPECT_EQ(StartScale(8, 640, 480), 8);
  EXPECT_EQ(StartScale(1, 3840, 2160), 1);
}

TEST(Pacer, LateWakeUpsAreMadeGoodStallsAndJumpsStartAfresh) {
  Pacer p;
  const std::int64_t t0 = 5'000'000;
  Pacer::Wait w = p.Next(10, t0);
  EXPECT_EQ(w.dueUs, t0 + 10'000);
  EXPECT_EQ(w.earliestUs, t0);
  w = p.Next(20, t0 + 10'700);  // woke 0.7 ms late: the next pass is that much shorter
  EXPECT_EQ(w.dueUs, t0 + 20'000);
  EXPECT_EQ(w.earliestUs, t0 + 10'000);
  w = p.Next(20, t0 + 20'000);  // a sleep of nothing: input cannot end it early
  EXPECT_EQ(w.earliestUs, w.dueUs);
  w = p.Next(30, t0 + 250'000);  // 220 ms late: no racing to catch up
  EXPECT_EQ(w.dueUs, t0 + 260'000);
  w = p.Next(60'000, t0 + 260'000);  // a jump of game time waits at most 100 ms
  EXPECT_EQ(w.dueUs, t0 + 360'000);
  p.Restart();
  w = p.Next(60'010, t0 + 900'000);
  EXPECT_EQ(w.dueUs, t0 + 910'000);
  // Held 4 ms after that pass by something else (the other machine of a game played in step):
  // the next pass is a whole one from there, not 4 ms short, and so are the ones after it.
  p.Held(4'000);
  w = p.Next(60'020, t0 + 914'100);
  EXPECT_EQ(w.dueUs, t0 + 924'000);
  w = p.Next(60'030, t0 + 924'000);
  EXPECT_EQ(w.dueUs, t0 + 934'000);
}

TEST(Pacer, InputEndingEveryWaitKeepsTheGameWithinOnePassOfTheClock) {
  Pacer p;
  std::int64_t now = 0;
  for (std::int64_t game = 10; game <= 10'000; game += 10) {
    const Pacer::Wait w = p.Next(game, now);
    now = std::max(now + 50, w.earliestUs);  // a key ends each wait as soon as it may
    EXPECT_LE(w.dueUs - now, 10'000) << "at game time " << game;
  }
  EXPECT_GE(now, 9'990'000) << "the game ran ahead of the clock";
}

TEST(PassStats, RateOverTheTimeInsideEachLoopsPasses) {
  PassStats s;
  std::int64_t t = 1000;
  auto run = [&](LoopId id, int passes, int msPerPass) {
    for (int i = 0; i < passes; ++i) {
      s.Pass(id, t);
      s.Slept();
      t += msPerPass;
    }
  };
  run(LoopId::DemoLoop, 101, 4);     // 100 timed passes of 4 ms
  t += 5000;                         // start-prompt set-up, not counted anywhere
  run(LoopId::StartPrompt, 11, 10);  // 10 timed passes
  run(LoopId::MainLoop, 201, 10);    // one game: 200 timed passes
  run(LoopId::StartPrompt, 6, 10);   // back at the prompt: a new run
  run(LoopId::MainLoop, 101, 20);    // a second game, slower

  const auto& main = s.Of(LoopId::MainLoop);
  EXPECT_EQ(main.passes, 302);
  EXPECT_EQ(main.timedPasses, 300);
  EXPECT_EQ(main.ms, 200 * 10 + 100 * 20);
  EXPECT_DOUBLE_EQ(main.PerSecond(), 75.0);
  EXPECT_DOUBLE_EQ(s.Of(LoopId::DemoLoop).PerSecond(), 250.0);
  EXPECT_EQ(s.Of(LoopId::StartPrompt).passes, 17);
  EXPECT_EQ(s.Of(LoopId::StartPrompt).timedPasses, 15);
  EXPECT_DOUBLE_EQ(s.Of(LoopId::StartPrompt).PerSecond(), 100.0);
}

TEST(PassStats, APassThatWaitsInsideIsCountedButNotTimed) {
  PassStats s;
  s.Pass(LoopId::MainLoop, 0);
  s.Slept();
  s.Pass(LoopId::MainLoop, 10);
  for (int i = 0; i < 200; ++i) s.Slept();  // the bonus display: 2 s inside one pass
  s.Pass(LoopId::MainLoop, 2020);
  s.Slept();
  s.Pass(LoopId::MainLoop, 2030);
  const auto& main = s.Of(LoopId::MainLoop);
  EXPECT_EQ(main.passes, 4);
  EXPECT_EQ(main.timedPasses, 2);
  EXPECT_EQ(main.longPasses, 1);
  EXPECT_DOUBLE_EQ(main.PerSecond(), 100.0);
  const std::string report = s.Report();
  EXPECT_NE(report.find("MainLoop: 4 passes, 100.0 passes/s over 0.02 s (1 pass that waited inside left out)"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("DemoLoop: 0 passes, 0.0 passes/s"), std::string::npos) << report;

  std::vector<std::int64_t> us;
  for (int i = 100; i >= 1; --i) us.push_back(i * 1000);
  EXPECT_EQ(LatencyReport(us),
            "Input latency: 100 events, median 50.0 ms, 99th percentile 99.0 ms, maximum 100.0 ms\n");
  EXPECT_EQ(LatencyReport({}), "Input latency: no events\n");
}

namespace {

using Kind = InputEvent::Kind;
using Events = std::vector<InputEvent>;
InputEvent Down(int vk) { return InputEvent{Kind::Down, vk}; }
InputEvent Up(int vk) { return InputEvent{Kind::Up, vk}; }
InputEvent Tap(int vk) { return InputEvent{Kind::Tap, vk}; }

}  // namespace

TEST(Gamepads, SidesByArrivalAndAPadThatComesBackGetsItsOwn) {
  HeldKeys keys;
  Gamepads pads(keys);
  Events out;
  EXPECT_EQ(pads.Attach(10, "red"), 1);
  EXPECT_EQ(pads.Attach(11, "blue"), 2);
  EXPECT_EQ(pads.Attach(12, "green"), 0) << "both sides are taken";
  EXPECT_EQ(pads.Attach(10, "red"), 1) << "announced twice";

  pads.SetButton(10, Gamepads::Button::Back, true, 0, out);
  pads.SetButton(11, Gamepads::Button::Start, true, 0, out);
  pads.SetButton(11, Gamepads::Button::Back, true, 0, out);
  EXPECT_EQ(out, (Events{Down(vk::kQ), Down(vk::k2)})) << "Q held by both pads is one key-down";
  out.clear();
  pads.Detach(10, out);
  EXPECT_TRUE(out.empty()) << "the other pad still holds Q";
  pads.Detach(11, out);
  EXPECT_EQ(out, (Events{Up(vk::k2), Up(vk::kQ)})) << "a pad that leaves lets go of its keys";

  EXPECT_EQ(pads.Attach(20, "blue"), 2) << "blue comes back to its side";
  EXPECT_EQ(pads.Attach(21, "green"), 1) << "a new pad takes a side whose pad is away";
  pads.Detach(21, out);
  EXPECT_EQ(pads.Attach(22, "red"), 1);
}

TEST(Gamepads, StickDeadZoneHysteresisAndTheKeyboardAlongside) {
  HeldKeys keys;
  Gamepads pads(keys);
  Events out;
  pads.Attach(1, "a");
  pads.Attach(2, "b");
  for (int y : {0, 3000, -9000, -15999, 12000, -12000}) pads.SetStick(1, y, 0, out);
  EXPECT_TRUE(out.empty()) << "inside the press threshold the stick rests";
  pads.SetStick(1, -16000, 0, out);
  for (int y : {-32768, -20000, -10001, -32768}) pads.SetStick(1, y, 0, out);
  EXPECT_EQ(out, Events{Down(vk::kA)}) << "held up: one key-down, no twitch above the release threshold";
  out.clear();
  pads.SetStick(1, -10000, 0, out);
  pads.SetStick(1, 32767, 0, out);
  pads.SetStick(1, 10001, 0, out);
  pads.SetStick(1, 9999, 0, out);
  EXPECT_EQ(out, (Events{Up(vk::kA), Down(vk::kZ), Up(vk::kZ)}));
  out.clear();

  // Player 2: the D-pad and the stick together, and the keyboard's Up arrow.
  keys.Press(vk::kUp, HeldKeys::kKeyboard, out);
  pads.SetButton(2, Gamepads::Button::Up, true, 0, out);
  pads.SetStick(2, -32768, 0, out);
  keys.Press(vk::kUp, HeldKeys::kKeyboard, out);  // the keyboard's repeat
  EXPECT_EQ(out, (Events{Down(vk::kUp), Down(vk::kUp)}));
  out.clear();
  keys.Release(vk::kUp, HeldKeys::kKeyboard, out);
  pads.SetButton(2, Gamepads::Button::Up, false, 0, out);
  EXPECT_TRUE(out.empty()) << "the stick still holds Up";
  pads.SetStick(2, 0, 0, out);
  EXPECT_EQ(out, Events{Up(vk::kUp)});
}

TEST(Gamepads, InitialsEntryChoosesTypesDeletesAndConfirms) {
  HeldKeys keys;
  Gamepads pads(keys);
  Events out;
  pads.Attach(1, "a");
  pads.SetStick(1, 32767, 0, out);
  out.clear();
  pads.SetEntry(true, out);
  EXPECT_EQ(out, Events{Up(vk::kZ)}) << "the paddle key goes up as the entry begins";
  EXPECT_EQ(pads.Preview(), 0) << "no preview before the pad is used";
  out.clear();
  pads.Tick(5000);
  EXPECT_EQ(pads.Preview(), 0) << "a stick held since before the entry does not step";
  pads.SetStick(1, 0, 5000, out);

  pads.SetButton(1, Gamepads::Button::Down, true, 6000, out);  // B
  pads.Tick(6000 + Gamepads::kRepeatDelayMs - 1);
  EXPECT_EQ(pads.Preview(), 'B');
  pads.Tick(6000 + Gamepads::kRepeatDelayMs);                        // C, held on
  pads.Tick(6000 + Gamepads::kRepeatDelayMs + Gamepads::kRepeatMs);  // D
  pads.SetButton(1, Gamepads::Button::Down, false, 7000, out);
  pads.SetButton(1, Gamepads::Button::A, true, 7000, out);
  pads.SetStick(1, -32768, 7000, out);  // C
  pads.SetButton(1, Gamepads::Button::A, false, 7000, out);
  pads.SetButton(1, Gamepads::Button::A, true, 7000, out);
  pads.SetButton(1, Gamepads::Button::B, true, 7000, out);
  pads.SetButton(1, Gamepads::Button::Back, true, 7000, out);
  pads.SetButton(1, Gamepads::Button::Start, true, 7000, out);
  EXPECT_EQ(out, (Events{Tap('D'), Tap('C'), Tap(vk::kBackspace), Tap(vk::kEnter)}));
  EXPECT_EQ(pads.Preview(), 'C');
  pads.KeyboardUsed();
  EXPECT_EQ(pads.Preview(), 0) << "the keyboard types: no preview";

  // Start, still held when the entry ends, starts no game.
  out.clear();
  pads.SetEntry(false, out);
  pads.SetButton(1, Gamepads::Button::Start, false, 9000, out);
  EXPECT_TRUE(out.empty());
  pads.SetButton(1, Gamepads::Button::Start, true, 9000, out);
  EXPECT_EQ(out, Events{Down(vk::k1)});
}

// The touch screen's controls: held while a finger is on them, alone or with the keyboard and the
// pads on the same key; in the initials entry the pad's chooser with Type, Delete and OK.
TEST(TouchControls, FingersHoldKeysAndTypeInitials) {
  using C = TouchControls::Control;
  HeldKeys keys;
  TouchControls touch(keys);
  Events out;
  // Two players at once; a finger sliding from Up to Down lets A go and holds Z.
  touch.Set(C::Up1, true, 0, out);
  touch.Set(C::Down2, true, 0, out);
  touch.Set(C::Up1, false, 0, out);
  touch.Set(C::Down1, true, 0, out);
  EXPECT_EQ(out, (Events{Down(vk::kA), Down(vk::kDown), Up(vk::kA), Down(vk::kZ)}));
  out.clear();
  // The keyboard holds Z too: the key goes up when the last of them lets go.
  keys.Press(vk::kZ, HeldKeys::kKeyboard, out);
  touch.Set(C::Down1, false, 0, out);
  EXPECT_EQ(out, Events{Down(vk::kZ)});
  keys.Release(vk::kZ, HeldKeys::kKeyboard, out);
  touch.Set(C::Coin, true, 0, out);
  touch.Set(C::Coin, true, 0, out);  // a second finger on the same control is no new press
  EXPECT_EQ(out, (Events{Down(vk::kZ), Up(vk::kZ), Down(vk::kQ)}));
  out.clear();
  touch.ReleaseAll(out);
  EXPECT_EQ(out, (Events{Up(vk::kDown), Up(vk::kQ)}));
  out.clear();

  // The entry: Up held from before does not step; Down steps at once and on while held.
  touch.Set(C::Up2, true, 1000, out);
  touch.SetEntry(true, out);
  EXPECT_EQ(out, (Events{Down(vk::kUp), Up(vk::kUp)}));
  out.clear();
  touch.Tick(5000);
  EXPECT_EQ(touch.Preview(), 0) << "no preview before Up or Down is touched in the entry";
  touch.Set(C::Up2, false, 5000, out);
  touch.Set(C::Down1, true, 6000, out);                 // B
  touch.Tick(6000 + CharacterChooser::kRepeatDelayMs);  // C
  touch.Set(C::Down1, false, 6500, out);
  touch.Set(C::Coin, true, 6500, out);  // nothing: Q would type a letter
  touch.Set(C::Type, true, 6500, out);
  touch.Set(C::Type, false, 6500, out);
  touch.Set(C::Up1, true, 7000, out);  // B
  touch.Set(C::Up1, false, 7000, out);
  touch.Set(C::Type, true, 7000, out);
  touch.Set(C::Delete, true, 7000, out);
  touch.Set(C::Esc, true, 7000, out);
  touch.Set(C::Ok, true, 7000, out);
  EXPECT_EQ(out, (Events{Tap('C'), Tap('B'), Tap(vk::kBackspace), Tap(vk::kEsc), Tap(vk::kEnter)}));
  EXPECT_EQ(touch.Preview(), 'B');
  touch.KeyboardUsed();
  EXPECT_EQ(touch.Preview(), 0) << "the keyboard types: no preview";

  // OK, still touched as the entry ends, and Coin, held through it, start nothing.
  out.clear();
  touch.SetEntry(false, out);
  touch.Set(C::Ok, false, 9000, out);
  touch.Set(C::Coin, false, 9000, out);
  EXPECT_TRUE(out.empty());
  touch.Set(C::OnePlayer, true, 9000, out);
  EXPECT_EQ(out, Events{Down(vk::k1)});
}

TEST(InputQueue, StampedInputWaitsInOrderAndEachStampIsAnsweredOnce) {
  InputQueue q;
  EXPECT_TRUE(q.Push(Down(vk::kA), 1000));
  EXPECT_FALSE(q.Push(Down(vk::kA), InputQueue::kNoStamp)) << "a repeat is not measured";
  EXPECT_TRUE(q.Waiting());
  InputQueue window;
  Events pad{Down(vk::kUp), Down(vk::kQ)};
  EXPECT_TRUE(window.PushAll(pad, 2000));
  EXPECT_TRUE(pad.empty());
  q.Append(window);
  EXPECT_TRUE(window.Empty());
  EXPECT_FALSE(window.Waiting());

  Events taken{Up(vk::kZ)};
  q.Take(taken);
  EXPECT_EQ(taken, (Events{Up(vk::kZ), Down(vk::kA), Down(vk::kA), Down(vk::kUp), Down(vk::kQ)}));
  EXPECT_TRUE(q.Empty());
  EXPECT_FALSE(q.Waiting()) << "taken input no longer ends a sleep";
  std::vector<InputQueue::Stamp> answered;
  q.TakeAnswered(answered);
  EXPECT_EQ(answered, (std::vector<InputQueue::Stamp>{1000, 2000, 2000}));
  q.TakeAnswered(answered);
  EXPECT_EQ(answered.size(), 3U) << "a later frame answers nothing again";

  // Only unstamped input waiting: the sleep goes on.
  q.Push(Up(vk::kA), InputQueue::kNoStamp);
  EXPECT_FALSE(q.Waiting());
  EXPECT_FALSE(q.Empty());

  // Input dropped before it is taken is never answered; input taken still is.
  q.Push(Down(vk::k1), 3000);
  q.Take(taken);
  q.Push(Down(vk::k2), 4000);
  q.DropWaiting();
  EXPECT_TRUE(q.Empty());
  answered.clear();
  q.TakeAnswered(answered);
  EXPECT_EQ(answered, std::vector<InputQueue::Stamp>{3000});
  q.Push(Down(vk::k2), 5000);
  q.Take(taken);
  q.Clear();
  answered.clear();
  q.TakeAnswered(answered);
  EXPECT_TRUE(answered.empty()) << "a new run answers nothing of the last";
}

TEST(InputQueue, KeysHeldGoUpOnALossAndTheRunEndsOnce) {
  InputQueue q;
  KeyInput keys(q);
  Events out;
  EXPECT_TRUE(keys.KeyDown(vk::kA, false, 10));
  EXPECT_FALSE(keys.KeyDown(vk::kA, true, 11)) << "a repeat carries no stamp";
  keys.Held().Press(vk::kUp, HeldKeys::kPad1, out);
  EXPECT_TRUE(keys.Add(out, 12));
  EXPECT_TRUE(keys.KeyDown(vk::kUp, false, 13)) << "held by the pad too, and pressed on the keyboard";

  EXPECT_TRUE(keys.EndOnce(Kind::FocusLost));
  EXPECT_TRUE(keys.Ended());
  EXPECT_FALSE(keys.EndOnce(Kind::Close)) << "the game ends on the first";
  keys.KeyDown(vk::kZ, false, 14);
  EXPECT_FALSE(keys.EndOnce(Kind::FocusLost));
  Events taken;
  q.Take(taken);
  EXPECT_EQ(taken, (Events{Down(vk::kA), Down(vk::kA), Down(vk::kUp), Down(vk::kUp), Up(vk::kUp), Up(vk::kA),
                           InputEvent{Kind::FocusLost, 0}, Down(vk::kZ), Up(vk::kZ)}))
      << "every key goes up, whoever held it";
  EXPECT_FALSE(keys.Held().HeldBy(vk::kUp, HeldKeys::kPad1));

  // A new run: what was held goes without events, and the run may end again.
  keys.KeyDown(vk::kQ, false, 15);
  keys.Restart();
  q.Clear();
  EXPECT_FALSE(keys.Ended());
  EXPECT_FALSE(keys.KeyUp(vk::kQ, 16)) << "nothing held";
  EXPECT_TRUE(keys.EndOnce(Kind::Close));
  taken.clear();
  q.Take(taken);
  EXPECT_EQ(taken, (Events{InputEvent{Kind::Close, 0}}));
}

TEST(FocusGrace, ALossInTheGraceCountsOnlyWhenTheGraceIsOverAndNoneBeforeTheFirstFocus) {
  FocusGrace f;
  EXPECT_EQ(f.Lost(5000), FocusGrace::Loss::None) << "the window never had the focus";
  f.Gained();
  EXPECT_EQ(f.Lost(5000), FocusGrace::Loss::Now);
  EXPECT_FALSE(f.Pending());

  f.StartGrace(10000);  // a switch to fullscreen
  EXPECT_EQ(f.Lost(10000 + FocusGrace::kGraceMs - 1), FocusGrace::Loss::Pending);
  EXPECT_TRUE(f.Pending());
  EXPECT_EQ(f.GraceUntil(), 10000 + FocusGrace::kGraceMs);
  EXPECT_FALSE(f.Due(10000 + FocusGrace::kGraceMs - 1));
  EXPECT_TRUE(f.Due(10000 + FocusGrace::kGraceMs));
  EXPECT_FALSE(f.Due(10000 + FocusGrace::kGraceMs + 1)) << "decided once";

  f.StartGrace(20000);
  EXPECT_EQ(f.Lost(20100), FocusGrace::Loss::Pending);
  f.Gained();  // the focus came back within the grace
  EXPECT_FALSE(f.Pending());
  EXPECT_FALSE(f.Due(30000));
  EXPECT_EQ(f.Lost(30000), FocusGrace::Loss::Now) << "after the grace a loss counts at once";
}

TEST(FocusPause, AKeyOrAClickGoesOnOnceTheFocusIsBackAndNoKeyOfThePauseReachesTheGame) {
  using Key = FocusPause::Key;
  constexpr int kA = SDL_SCANCODE_A;
  constexpr int kQ = SDL_SCANCODE_Q;
  constexpr int kAlt = SDL_SCANCODE_LALT;
  FocusPause p;
  EXPECT_EQ(p.KeyDown(kA, false, 0), Key::Game);
  EXPECT_TRUE(p.Lost());
  EXPECT_FALSE(p.Lost()) << "paused once";
  EXPECT_FALSE(p.KeyUp(kA)) << "held before the pause: its key-up is the game's";
  EXPECT_FALSE(p.Press(1000)) << "no click goes on without the focus";
  EXPECT_EQ(p.KeyDown(kQ, false, 1000), Key::Kept);

  // Switching back: the key held from it, and a click at once, do not go on.
  p.Gained(2000);
  EXPECT_EQ(p.Now(), FocusPause::State::Back);
  EXPECT_EQ(p.KeyDown(kAlt, false, 2000), Key::Kept);
  EXPECT_FALSE(p.Press(2000 + FocusPause::kSettleMs - 1));
  EXPECT_TRUE(p.KeyUp(kAlt));
  EXPECT_EQ(p.KeyDown(kA, true, 2000 + FocusPause::kSettleMs), Key::Kept) << "a repeat does not go on";
  EXPECT_EQ(p.KeyDown(kQ, false, 2000 + FocusPause::kSettleMs), Key::GoOn);
  EXPECT_FALSE(p.Paused());
  // The key that went on, and the one held through the pause, stay the player's until let go.
  EXPECT_EQ(p.KeyDown(kQ, true, 3000), Key::Kept);
  EXPECT_EQ(p.KeyDown(kA, true, 3000), Key::Kept);
  EXPECT_TRUE(p.KeyUp(kQ));
  EXPECT_FALSE(p.KeyUp(kQ));
  EXPECT_EQ(p.KeyDown(kQ, false, 3100), Key::Game);
  EXPECT_EQ(p.KeyDown(kA, false, 3100), Key::Game) << "pressed anew: its key-up went astray";
  EXPECT_EQ(p.KeyDown(kA, true, 3200), Key::Game);
  EXPECT_EQ(p.KeyDown(-1, false, 3200), Key::Game);
  EXPECT_EQ(p.KeyDown(FocusPause::kKeys, false, 3200), Key::Game);

  // Lost again before going on: the focus must come back first; a click goes on then.
  EXPECT_TRUE(p.Lost());
  p.Gained(5000);
  EXPECT_FALSE(p.Lost()) << "still paused";
  EXPECT_EQ(p.Now(), FocusPause::State::Away);
  EXPECT_FALSE(p.Press(9000));
  p.Gained(9000);
  p.Gained(9100);  // gained twice: the settling counts from the first
  EXPECT_TRUE(p.Press(9000 + FocusPause::kSettleMs));
  EXPECT_FALSE(p.Press(9999)) << "not paused";

  // A closed window goes on at once, with or without the focus.
  EXPECT_TRUE(p.Lost());
  p.Closed();
  EXPECT_FALSE(p.Paused());
}

TEST(ThreadBridge, APauseHoldsTheGameAtTheEndOfItsSleepUntilItGoesOn) {
  ThreadBridge bridge([] {});
  InputQueue pending;
  pending.Push(Down(vk::kA), 10);
  bridge.PostInput(pending);
  bridge.SetPaused(true);
  std::atomic<bool> took{false};
  Events taken;
  std::thread game([&] {
    bridge.WaitForInput(std::chrono::steady_clock::now());
    bridge.TakeInput(taken);
    took = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_FALSE(took) << "the game took input while paused";
  EXPECT_GE(bridge.PausedMs(), 100);
  pending.Push(Up(vk::kA), InputQueue::kNoStamp);
  bridge.PostInput(pending);
  bridge.SetPaused(false);
  game.join();
  EXPECT_EQ(taken, (Events{Down(vk::kA), Up(vk::kA)})) << "what waited, and what came as it went on";
  const std::int64_t paused = bridge.PausedMs();
  EXPECT_GE(paused, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(bridge.PausedMs(), paused) << "the pause is over";
  bridge.SetPaused(false);
  EXPECT_EQ(bridge.PausedMs(), paused);
}

TEST(ThreadBridge, StampedInputEndsTheGamesSleepAndTheFrameDrawnAfterItGoesOutAtOnce) {
  std::atomic<int> wakes{0};
  ThreadBridge bridge([&] { ++wakes; });
  using SteadyClock = std::chrono::steady_clock;
  const Font font(10, 96);
  Surface surface(font);

  // The game sleeps; the window's key ends the sleep long before its end.
  const auto start = SteadyClock::now();
  std::atomic<bool> woke{false};
  std::thread game([&] {
    bridge.WaitForInput(start + std::chrono::seconds(20));
    woke = true;
  });
  InputQueue pending;
  pending.Push(Down(vk::kA), InputQueue::kNoStamp);
  bridge.PostInput(pending);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(woke) << "a repeat alone does not end the sleep";
  pending.Push(Down(vk::kZ), 777);
  bridge.PostInput(pending);
  game.join();
  EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(pending.Empty());

  Events taken;
  bridge.TakeInput(taken);
  EXPECT_EQ(taken, (Events{Down(vk::kA), Down(vk::kZ)}));
  Frame shown;
  bool fresh = false;
  std::vector<InputQueue::Stamp> answered;
  EXPECT_FALSE(bridge.TakeFrame(false, shown, fresh, answered)) << "no frame yet, and not the window's turn";
  const int before = wakes;
  surface.Cls();
  bridge.PostFrame(surface);
  EXPECT_EQ(wakes, before + 1) << "a frame that answers input wakes the window";
  EXPECT_TRUE(bridge.TakeFrame(false, shown, fresh, answered)) << "it goes out before the window's turn";
  EXPECT_TRUE(fresh);
  EXPECT_EQ(shown.indices, surface.Indices());
  EXPECT_EQ(answered, std::vector<InputQueue::Stamp>{777});

  // Frames that answer nothing wait for the window's turn, and only the newest is shown.
  surface.Line(0, 0, 10, 10, 0xFFFFFF);
  bridge.PostFrame(surface);
  surface.Line(0, 10, 10, 0, 0x00FF00);
  bridge.PostFrame(surface);
  EXPECT_EQ(wakes, before + 1);
  EXPECT_FALSE(bridge.TakeFrame(false, shown, fresh, answered));
  EXPECT_TRUE(bridge.TakeFrame(true, shown, fresh, answered));
  EXPECT_TRUE(fresh);
  EXPECT_EQ(shown.indices, surface.Indices());
  EXPECT_EQ(shown.palette, surface.Palette());
  EXPECT_TRUE(bridge.TakeFrame(true, shown, fresh, answered));
  EXPECT_FALSE(fresh) << "the window's turn with no new frame";
  EXPECT_EQ(answered.size(), 1U);
}

TEST(ThreadBridge, RequestsAreCarriedOutOnTheWindowThreadInOrderBeforeTheGameGoesOn) {
  ThreadBridge bridge([] {});
  std::vector<std::string> carried;  // window thread
  std::atomic<bool> ended{false};
  std::thread window([&] {
    while (!bridge.RunRequests([&](const WindowRequest& r) {
      carried.push_back(r.kind == WindowRequest::Kind::Caption ? r.caption : std::to_string(r.x));
    })) {
      std::this_thread::yield();
    }
    ended = true;
  });
  bridge.Request(WindowRequest{WindowRequest::Kind::Caption, "Rall", 0, 0});
  bridge.Request(WindowRequest{WindowRequest::Kind::MovePointer, {}, 42, 7});
  bridge.SetTextEntry(true);
  EXPECT_TRUE(bridge.TextEntry());
  EXPECT_FALSE(ended);
  bridge.GameEnded();
  window.join();
  EXPECT_EQ(carried, (std::vector<std::string>{"Rall", "42"}));
}

namespace {

struct TempDir {
  TempDir() {
    path = std::filesystem::temp_directory_path() /
           ("qr-window-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(std::random_device{}()));
    std::filesystem::remove_all(path);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string Dir() const { return path.string() + "/"; }
  std::filesystem::path path;
};

std::tm When() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 20;
  t.tm_min = 15;
  t.tm_sec = 3;
  return t;
}

// Reads a PNG back as 0xRRGGBB values.
std::vector<std::uint32_t> ReadPng(const std::string& path, int& w, int& h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr) == 0) return {};
  w = static_cast<int>(image.width);
  h = static_cast<int>(image.height);
  std::vector<std::uint32_t> rgb(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    rgb[i] = (std::uint32_t{bytes[i * 3]} << 16) | (std::uint32_t{bytes[i * 3 + 1]} << 8) | bytes[i * 3 + 2];
  }
  return rgb;
}

Frame TestFrame() {
  Frame f;
  f.indices.assign(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight, 0);
  f.palette[0] = 0x000000;
  f.palette[1] = 0xC0C0C0;
  f.palette[2] = 0x1030A0;
  f.indices[0] = 1;                                                                 // top left
  f.indices[static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight - 1] = 2;  // bottom right
  f.indices[static_cast<std::size_t>(100) * Surface::kWidth + 200] = 1;
  return f;
}

}  // namespace

TEST(Screenshot, NamedByDateAndTimeWithoutOverwriting) {
  TempDir tmp;
  std::string error;
  const std::string first = SaveScreenshot(tmp.Dir(), TestFrame(), 1, When(), error);
  ASSERT_FALSE(first.empty()) << error;
  EXPECT_EQ(first, tmp.Dir() + "quillmarsh-rall-2026-12-07-201503.png");
  const std::string second = SaveScreenshot(tmp.Dir(), TestFrame(), 1, When(), error);
  EXPECT_EQ(second, tmp.Dir() + "quillmarsh-rall-2026-12-07-201503-2.png");
  const std::string third = SaveScreenshot(tmp.Dir(), TestFrame(), 1, When(), error);
  EXPECT_EQ(third, tmp.Dir() + "quillmarsh-rall-2026-12-07-201503-3.png");
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_TRUE(std::filesystem::exists(second));
#if !defined(_WIN32)
  // In a directory others can write to, names taken by links are passed over, and nothing is
  // written through them.
  std::ofstream(tmp.path / "victim") << "keep";
  std::filesystem::create_symlink(tmp.path / "made-elsewhere", tmp.Dir() + "quillmarsh-rall-2026-12-07-201503-4.png");
  std::filesystem::create_symlink(tmp.path / "victim", tmp.Dir() + "quillmarsh-rall-2026-12-07-201503-5.png");
  EXPECT_EQ(SaveScreenshot(tmp.Dir(), TestFrame(), 1, When(), error),
            tmp.Dir() + "quillmarsh-rall-2026-12-07-201503-6.png");
  EXPECT_FALSE(std::filesystem::exists(tmp.path / "made-elsewhere"));
  EXPECT_EQ(std::filesystem::file_size(tmp.path / "victim"), 4u);
#endif
}

TEST(Screenshot, ThePlayfieldAtTheShownScaleNearestNeighbour) {
  TempDir tmp;
  std::string error;
  const std::string path = SaveScreenshot(tmp.Dir() + "nested/dir/", TestFrame(), 3, When(), error);
  ASSERT_FALSE(path.empty()) << error;  // the directory is made
  int w = 0;
  int h = 0;
  const auto rgb = ReadPng(path, w, h);
  ASSERT_EQ(w, 957);
  ASSERT_EQ(h, 717);
  auto at = [&](int x, int y) { return rgb[static_cast<std::size_t>(y) * w + x]; };
  for (int dy = 0; dy < 3; ++dy) {
    for (int dx = 0; dx < 3; ++dx) {
      EXPECT_EQ(at(dx, dy), 0xC0C0C0u);
      EXPECT_EQ(at(956 - dx, 716 - dy), 0x1030A0u);
      EXPECT_EQ(at(600 + dx, 300 + dy), 0xC0C0C0u);
    }
  }
  EXPECT_EQ(at(3, 0), 0u);
  EXPECT_EQ(at(0, 3), 0u);
  EXPECT_EQ(at(599, 300), 0u);
  EXPECT_EQ(at(603, 302), 0u);
}

TEST(Screenshot, FailuresAreReportedNotHidden) {
  TempDir tmp;
  std::string error;
  EXPECT_TRUE(SaveScreenshot("", TestFrame(), 1, When(), error).empty());
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_TRUE(SaveScreenshot(tmp.Dir(), Frame{}, 1, When(), error).empty());  // nothing drawn yet
  EXPECT_FALSE(error.empty());
  // A file where the directory should be.
  std::filesystem::create_directories(tmp.path);
  std::ofstream(tmp.path / "file") << "x";
  error.clear();
  EXPECT_TRUE(SaveScreenshot(tmp.Dir() + "file/", TestFrame(), 1, When(), error).empty());
  EXPECT_FALSE(error.empty());
#if !defined(_WIN32)
  // A disk that fills up half-way: no half-written file is left behind.
  const std::string dir = tmp.Dir() + "full/";
  std::filesystem::create_directories(dir);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 2000;
  setrlimit(RLIMIT_FSIZE, &small);
  error.clear();
  const std::string path = SaveScreenshot(dir, TestFrame(), 8, When(), error);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(path.empty());
  EXPECT_NE(error.find("full/quillmarsh-rall-2026-12-07-201503.png: "), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_empty(dir));
#endif
}

TEST(Screenshot, WrittenOnAThreadOfItsOwnAndReportedWhenComplete) {
  TempDir tmp;
  struct Done {
    std::string path;
    std::string error;
    int w = 0;
    int h = 0;
  };
  std::vector<Done> done;
  {
    ScreenshotWriter writer([&](const std::string& path, const std::string& error) {
      Done d{path, error};
      // Whole by the time it is reported: the header's size, and the end chunk last.
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.size() > 24 && bytes.ends_with(std::string("IEND\xae\x42\x60\x82", 8))) {
        auto word = [&](std::size_t at) {
          int v = 0;
          for (std::size_t i = at; i < at + 4; ++i) v = v * 256 + static_cast<unsigned char>(bytes[i]);
          return v;
        };
        d.w = word(16);
        d.h = word(20);
      }
      done.push_back(d);
    });
    // 7975 x 5975, the picture on an 8000 x 6000 window: it takes the window no time.
    const auto start = std::chrono::steady_clock::now();
    writer.Save(tmp.Dir(), TestFrame(), 25, When());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    writer.Save(tmp.Dir(), Frame{}, 1, When());
    writer.Save(tmp.Dir(), TestFrame(), 1, When());
  }  // the writer finishes what it was asked for
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(done[0].path, tmp.Dir() + "quillmarsh-rall-2026-12-07-201503.png");
  EXPECT_EQ(done[0].w, 7975);
  EXPECT_EQ(done[0].h, 5975);
  EXPECT_TRUE(done[1].path.empty());
  EXPECT_FALSE(done[1].error.empty());
  EXPECT_EQ(done[2].path, tmp.Dir() + "quillmarsh-rall-2026-12-07-201503-2.png");
  EXPECT_EQ(done[2].w, 319);
}

#if !defined(_WIN32)

namespace {

// The window, on SDL's dummy video driver, with a game that sends the program the signals given
// (gapMs apart) and then hangs, as in a write nobody takes (for 20 s at most). Ends the process
// with RunWindowed's exit code.
[[noreturn]] void SignalTheWindow(const std::vector<int>& signals, int gapMs) {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  sigset_t quit;
  sigemptyset(&quit);
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    std::signal(sig, SIG_DFL);
    sigaddset(&quit, sig);
  }
  ::sigprocmask(SIG_UNBLOCK, &quit, nullptr);
  WindowOptions options;
  options.scale = 1;
  options.mute = true;
  options.gamepads = false;
  options.dataDir = (std::filesystem::temp_directory_path() / "qr-window-test-signals").string();
  std::_Exit(RunWindowed(options, [&](Host&) {
    for (std::size_t i = 0; i < signals.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
      ::kill(::getpid(), signals[i]);
    }
    std::this_thread::sleep_for(std::chrono::seconds(20));
  }));
}

double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

// A game that ends when the window closes ends at a signal with exit code 0 (window.terminate).
TEST(WindowEnd, AStuckGameCannotKeepTheProgramPastAFewSecondsOrASecondSignal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EXIT(SignalTheWindow({SIGTERM}, 0), ::testing::ExitedWithCode(1),
              "^quillmarsh-rall: the game has not ended 3 s after the signal; ending without it\n$");
  EXPECT_GT(SecondsSince(start), 2.9);
  EXPECT_LT(SecondsSince(start), 8.0);
  start = std::chrono::steady_clock::now();
  EXPECT_EXIT(SignalTheWindow({SIGTERM, SIGHUP}, 400), ::testing::KilledBySignal(SIGHUP),
              "^quillmarsh-rall: ended at once on a second signal\n$");
  EXPECT_LT(SecondsSince(start), 2.5);
  // Signals that come together, as SIGTERM and SIGHUP at a logout, are one.
  start = std::chrono::steady_clock::now();
  EXPECT_EXIT(SignalTheWindow({SIGHUP, SIGTERM}, 0), ::testing::ExitedWithCode(1), "has not ended");
  EXPECT_GT(SecondsSince(start), 2.9);
}

#endif

}  // namespace qr
