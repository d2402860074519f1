// Key polling, window events and timers: what the game sees between two hand-overs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Probe.hpp"
#include "hosts/headless/HeadlessHost.hpp"
#include "machine/KeyLatch.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// Records every window event with the virtual time it arrived at.
struct Recorder : WindowEvents {
  explicit Recorder(const Clock& c) : clock(c) {}
  void Form_KeyDown(std::int16_t keyCode, std::int16_t) override { Add("key " + std::to_string(keyCode)); }
  void Form_LostFocus() override { Add("focus"); }
  void TimerEvent(TimerId id) override {
    Add("timer " + std::to_string(static_cast<int>(id)));
    if (onTimer) onTimer(id);
  }
  void Add(const std::string& what) { log.push_back(std::to_string(clock.NowMs()) + " " + what); }
  std::vector<std::string> Take() { return std::exchange(log, {}); }

  const Clock& clock;
  std::vector<std::string> log;
  std::function<void(TimerId)> onTimer;
};

using Log = std::vector<std::string>;

ScriptEvent Event(std::int64_t ms, ScriptEvent::Action action, int vk = 0) {
  ScriptEvent e;
  e.ms = ms;
  e.action = action;
  e.vk = vk;
  return e;
}

struct Headless {
  explicit Headless(std::vector<ScriptEvent> script = {}) : platform(Options(std::move(script))), rec(platform) {
    platform.SetEventSink(&rec);
  }
  static HeadlessOptions Options(std::vector<ScriptEvent> script) {
    HeadlessOptions o;
    o.script = std::move(script);
    return o;
  }
  HeadlessMachine platform;
  Recorder rec;
};

using vk::kZ;

// The game's nine keys, in the order of its key table.
constexpr int kGameKeys[] = {vk::kEsc, vk::kA, vk::kZ, vk::kSemicolon, vk::kUp, vk::kDown, vk::kQ, vk::k1, vk::k2};

}  // namespace

TEST(KeyLatch, TapBetweenPollsCountsOnce) {
  KeyLatch k;
  EXPECT_EQ(k.Query(kZ), 0);
  k.Press(kZ);
  k.Release(kZ);
  EXPECT_NE(k.Query(kZ), 0);
  EXPECT_EQ(k.Query(kZ), 0);
  // The same with a tap.
  k.Tap(kZ);
  EXPECT_FALSE(k.Down(kZ));
  EXPECT_NE(k.Query(kZ), 0);
  EXPECT_EQ(k.Query(kZ), 0);
}

TEST(KeyLatch, HeldKeyCountsAtEveryPoll) {
  KeyLatch k;
  k.Press(kZ);
  for (int i = 0; i < 5; ++i) EXPECT_NE(k.Query(kZ), 0) << i;
  // The high bit says down; the low bit only at the first query after the press.
  k.Press(65);
  EXPECT_EQ(static_cast<std::uint16_t>(k.Query(65)), 0x8001u);
  EXPECT_EQ(static_cast<std::uint16_t>(k.Query(65)), 0x8000u);
  // The keyboard's repeat is no new press; letting go and pressing again between polls is.
  k.Press(65);
  EXPECT_EQ(static_cast<std::uint16_t>(k.Query(65)), 0x8000u);
  k.Release(65);
  k.Press(65);
  EXPECT_EQ(static_cast<std::uint16_t>(k.Query(65)), 0x8001u);
  k.Release(kZ);
  EXPECT_EQ(k.Query(kZ), 0);
}

TEST(KeyLatch, QueriesAreIndependentPerKey) {
  KeyLatch k;
  k.Tap(81);
  EXPECT_EQ(k.Query(49), 0);  // querying another key leaves the tap pending
  EXPECT_NE(k.Query(81), 0);
  // Codes outside the table never count and never fault.
  for (int vk : {0, -1, 256, 100000}) {
    k.Press(vk);
    k.Tap(vk);
    EXPECT_EQ(k.Query(vk), 0) << vk;
    EXPECT_FALSE(k.Down(vk));
  }
  k.Press(255);
  EXPECT_NE(k.Query(255), 0);
}

TEST(HeadlessInput, ScriptedKeysAsThePollsSeeThem) {
  Headless h({Event(10, ScriptEvent::Action::Down, kZ), Event(30, ScriptEvent::Action::Up, kZ),
              Event(35, ScriptEvent::Action::Tap, vk::kA), Event(35, ScriptEvent::Action::Down, vk::kUp),
              Event(35, ScriptEvent::Action::Up, vk::kUp)});
  HeadlessMachine& p = h.platform;
  p.Sleep(9);
  EXPECT_EQ(p.GetAsyncKeyState(kZ), 0);  // not yet due
  p.Sleep(1);
  EXPECT_NE(p.GetAsyncKeyState(kZ), 0);  // due at exactly 10
  p.Sleep(10);
  EXPECT_NE(p.GetAsyncKeyState(kZ), 0);  // held
  p.Sleep(10);
  EXPECT_EQ(p.GetAsyncKeyState(kZ), 0);  // released at 30, the press already counted
  p.Sleep(10);
  // A tap: not down at the next poll, but counts once there.
  EXPECT_EQ(static_cast<std::uint16_t>(p.GetAsyncKeyState(vk::kA)), 1u);
  EXPECT_EQ(p.GetAsyncKeyState(vk::kA), 0);
  // Down and up at the same instant count like a tap.
  EXPECT_NE(p.GetAsyncKeyState(vk::kUp), 0);
  EXPECT_EQ(p.GetAsyncKeyState(vk::kUp), 0);
}

TEST(HeadlessInput, KeyDownAndFocusLossOnlyInsideTheHandOver) {
  Headless h({Event(0, ScriptEvent::Action::Down, kZ), Event(5, ScriptEvent::Action::Tap, 66),
              Event(5, ScriptEvent::Action::FocusLost), Event(7, ScriptEvent::Action::Close)});
  HeadlessMachine& p = h.platform;
  p.GetAsyncKeyState(kZ);
  p.Sleep(10);
  p.GetAsyncKeyState(66);
  EXPECT_TRUE(h.rec.log.empty());
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), (Log{"10 key 90", "10 key 66", "10 focus", "10 focus"}));
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());  // each event is delivered once
}

TEST(HeadlessInput, EventsAddedWhileRunning) {
  Headless h;
  HeadlessMachine& p = h.platform;
  p.Sleep(100);
  p.AddEvent(Event(100, ScriptEvent::Action::Tap, vk::kQ));
  p.AddEvent(Event(150, ScriptEvent::Action::Tap, vk::k1));
  EXPECT_NE(p.GetAsyncKeyState(vk::kQ), 0);
  EXPECT_EQ(p.GetAsyncKeyState(vk::k1), 0);
  p.Sleep(50);
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), (Log{"150 key 81", "150 key 49"}));
}

TEST(HeadlessClock, SleepMovesTheClockExactlyAndEndsTheRun) {
  HeadlessOptions o;
  o.runMs = 100;
  HeadlessMachine p(o);
  EXPECT_EQ(p.NowMs(), 0);
  p.Sleep(4);
  EXPECT_EQ(p.NowMs(), 4);
  p.Sleep(0);
  p.Sleep(-10);
  EXPECT_EQ(p.NowMs(), 4);
  p.DoEvents();
  p.GetAsyncKeyState(vk::kEsc);
  EXPECT_EQ(p.NowMs(), 4);  // nothing but Sleep moves it
  p.Sleep(95);
  EXPECT_EQ(p.NowMs(), 99);
  EXPECT_THROW(p.Sleep(10), RunEnded);
  EXPECT_EQ(p.NowMs(), 109);
}

TEST(Timers, FireAtTheFirstHandOverAtOrAfterTheirTime) {
  Headless h;
  HeadlessMachine& p = h.platform;
  Timer& t = p.timer(TimerId::Serve);
  t.Interval(1500);
  p.Sleep(2000);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());  // an interval alone does not start it

  t.Enabled(true);  // due at 3500
  p.Sleep(1499);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
  p.Sleep(1);
  p.GetAsyncKeyState(vk::kEsc);
  EXPECT_TRUE(h.rec.log.empty());  // not at a key poll
  p.Sleep(7);
  EXPECT_TRUE(h.rec.log.empty());  // not at a sleep
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), Log{"3507 timer 2"});
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
}

TEST(Timers, AtMostOncePerHandOverAndNoCatchingUp) {
  Headless h;
  HeadlessMachine& p = h.platform;
  Timer& credit = p.timer(TimerId::Credit);
  credit.Enabled(false);
  credit.Interval(250);
  credit.Enabled(true);
  p.Sleep(1000);  // four periods without a hand-over
  p.DoEvents();
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), Log{"1000 timer 0"});
  p.Sleep(249);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
  p.Sleep(1);
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), Log{"1250 timer 0"});
  // A steady cadence of hand-overs every 10 ms gives one event every 250 ms.
  for (int i = 0; i < 100; ++i) {
    p.Sleep(10);
    p.DoEvents();
  }
  EXPECT_EQ(h.rec.Take(), (Log{"1500 timer 0", "1750 timer 0", "2000 timer 0", "2250 timer 0"}));
}

TEST(Timers, EnabledOrIntervalRearmsFromThatMoment) {
  Headless h;
  HeadlessMachine& p = h.platform;
  Timer& t = p.timer(TimerId::GetReady);
  t.Interval(2000);
  t.Enabled(true);  // due at 2000
  p.Sleep(1500);
  t.Interval(2000);  // due at 3500
  p.Sleep(1000);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
  t.Enabled(true);  // enabling again: due at 4500
  p.Sleep(1500);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
  p.Sleep(500);
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), Log{"4500 timer 1"});

  // Disabled: never fires; enabled again, it counts from then.
  t.Enabled(false);
  p.Sleep(5000);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
  t.Enabled(true);
  p.Sleep(1999);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
  p.Sleep(1);
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), Log{"11500 timer 1"});

  // No interval, no event.
  t.Enabled(false);
  t.Interval(0);
  t.Enabled(true);
  p.Sleep(10000);
  p.DoEvents();
  EXPECT_TRUE(h.rec.log.empty());
}

TEST(Timers, OneShotPatternAndSeveralDueTogether) {
  Headless h;
  HeadlessMachine& p = h.platform;
  Timer& credit = p.timer(TimerId::Credit);
  Timer& ready = p.timer(TimerId::GetReady);
  Timer& serve = p.timer(TimerId::Serve);
  // The events disable their own timer first, as the game's one-shot timers do; the serve
  // event arms the credit timer again from its own moment.
  h.rec.onTimer = [&](TimerId id) {
    if (id == TimerId::GetReady) ready.Enabled(false);
    if (id == TimerId::Serve) {
      serve.Enabled(false);
      credit.Enabled(true);
    }
  };
  credit.Interval(250);
  credit.Enabled(true);  // due at 250
  p.Sleep(100);
  serve.Interval(100);
  serve.Enabled(true);  // due at 200
  ready.Interval(120);
  ready.Enabled(true);  // due at 220
  p.Sleep(200);
  p.DoEvents();
  // Earliest first, each once; the credit timer, re-armed at 300 by the serve event, waits.
  EXPECT_EQ(h.rec.Take(), (Log{"300 timer 2", "300 timer 1"}));
  p.Sleep(1000);
  p.DoEvents();
  EXPECT_EQ(h.rec.Take(), Log{"1300 timer 0"});
  EXPECT_FALSE(ready.Enabled());
  EXPECT_FALSE(serve.Enabled());
}

TEST(GameKeys, ClearKeysDiscardsTapsAndHandsOverOnce) {
  StartedGame s;
  frmRallex& g = s.game;
  HeadlessMachine& p = s.platform;
  const std::int64_t now = p.NowMs();
  for (int vk : kGameKeys) p.AddEvent(Event(now, ScriptEvent::Action::Tap, vk));
  p.AddEvent(Event(now, ScriptEvent::Action::Tap, vk::kEnter));  // not one of the game's keys
  RallexProbe::lastKeyCode(g) = 0;
  g.ClearKeys();
  for (int vk : kGameKeys) EXPECT_EQ(p.GetAsyncKeyState(vk), 0) << vk;
  EXPECT_NE(p.GetAsyncKeyState(vk::kEnter), 0);
  // The key-down events arrived in that one hand-over; the last one stays.
  EXPECT_EQ(RallexProbe::lastKeyCode(g), vk::kEnter);
  EXPECT_FALSE(RallexProbe::exitRequested(g));
}

TEST(GameKeys, KeyDownKeepsTheLastCodeAndFocusLossEndsEverything) {
  StartedGame s;
  frmRallex& g = s.game;
  g.Form_KeyDown(vk::kA, 0);
  g.Form_KeyDown(66, 1);  // a Shift state changes nothing
  EXPECT_EQ(RallexProbe::lastKeyCode(g), 66);
  g.Form_KeyDown(66, 0);
  EXPECT_EQ(RallexProbe::lastKeyCode(g), 66);
  EXPECT_FALSE(g.endGame);
  EXPECT_FALSE(RallexProbe::exitRequested(g));

  s.platform.AddEvent(Event(s.platform.NowMs(), ScriptEvent::Action::FocusLost));
  EXPECT_FALSE(RallexProbe::exitRequested(g));
  s.platform.DoEvents();
  EXPECT_TRUE(g.endGame);
  EXPECT_TRUE(RallexProbe::exitRequested(g));
}

}  // namespace qr
