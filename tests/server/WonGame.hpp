#pragma once
// A ranked game as a client makes one: a two-player game from a fresh start on the default
// tables, recorded with its seed; two coins, 2 to start, player 1 holding Up; when the game asks
// for initials they are typed and confirmed with Enter.
#include <cstdint>
#include <string>

#include "Probe.hpp"
#include "hosts/shared/Recorder.hpp"

namespace qr {

struct WonGame {
  std::string recording;
  std::int32_t p1Score = 0;
  std::int32_t p2Score = 0;
  std::string asked;  // "Player N Enter Your Initials"
};

// coinMs: when the first coin goes in (the attract mode plays until then).
inline WonGame RecordWonGame(std::uint64_t seed, const std::string& initials = "ABC", std::int64_t coinMs = 1000) {
  HeadlessOptions options;
  options.seed = seed;
  options.runMs = 20 * 60 * 1000;
  auto at = [](std::int64_t ms, ScriptEvent::Action action, int vk) {
    ScriptEvent e;
    e.ms = ms;
    e.action = action;
    e.vk = vk;
    return e;
  };
  using A = ScriptEvent::Action;
  options.runMs += coinMs;
  options.script = {at(coinMs, A::Tap, 'Q'), at(coinMs + 300, A::Tap, 'Q'), at(coinMs + 1000, A::Tap, '2'),
                    at(coinMs + 1100, A::Down, 0x26)};
  WrappedGame<Recorder> g(std::move(options), nullptr);
  WonGame won;
  bool typed = false;
  g.host.SetSleepHook([&] {
    if (typed || RallexProbe::msgLines(g.game)[5].find("Enter Your Initials") == std::string::npos) return;
    typed = true;
    won.p1Score = g.game.p1Score;
    won.p2Score = g.game.p2Score;
    won.asked = RallexProbe::msgLines(g.game)[5];
    std::int64_t t = g.machine.NowMs() + 200;
    for (char c : initials) g.host.AddEvent(at(t += 100, A::Tap, c));
    g.host.AddEvent(at(t += 100, A::Tap, 0x0D));
    g.host.SetRunMs(t + 8000);
  });
  g.Start();
  won.recording = g.wrapper.Recording();
  return won;
}

}  // namespace qr
