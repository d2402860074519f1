#pragma once
// Test access to the game window's private state, and a harness that starts the game headless.
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "game/app/frmRallex.hpp"
#include "hosts/headless/HeadlessHost.hpp"

namespace qr {

struct RallexProbe {
#define QR_PROBE(name) \
  static auto& name(frmRallex& g) { return g.name; }
  QR_PROBE(textLines)
  QR_PROBE(dirStep)
  QR_PROBE(keys)
  QR_PROBE(ballX)
  QR_PROBE(ballY)
  QR_PROBE(msgLines)
  QR_PROBE(hiScores)
  QR_PROBE(hiScores2P)
  QR_PROBE(hiScoreFile)
  QR_PROBE(enteredInitials)
  QR_PROBE(creditLock)
  QR_PROBE(lastKeyCode)
  QR_PROBE(exitRequested)
  QR_PROBE(frameCount)
  QR_PROBE(speedUpCount)
  QR_PROBE(aimOfs)
  QR_PROBE(creditsShown)
  QR_PROBE(demoAimOfs)
  QR_PROBE(rollLine)
  QR_PROBE(rollY)
  QR_PROBE(rollStep)
  QR_PROBE(rollTick)
  QR_PROBE(letterCount)
  QR_PROBE(idlePasses)
  QR_PROBE(entryDone)
  QR_PROBE(tmrGetReady)
  QR_PROBE(tmrServe)
  QR_PROBE(form)
  // The rally, match and attract loops' own values.
  QR_PROBE(demoAimY)
  QR_PROBE(instrPass)
#undef QR_PROBE
  // The centring rule as the game applies it.
  static std::int16_t CenteredX(const frmRallex& g, const std::string& text) { return g.CenteredX(text); }
};

// A game played headless from start-up (Form_Load) until it ends by itself or its virtual
// clock reaches the options' runMs; with runMs 0 (the seed constructor), up to its first pause:
// start-up has run (tables filled, window shown, coin timer on) and the attract loop has made
// its first pass. watch, if given, is called at the end of every sleep of the run (it may add
// input or end the run with platform.SetRunMs). Afterwards the clock runs on without end, so
// that a test may set fields and call procedures directly.
struct StartedGame {
  using Watch = std::function<void(StartedGame&)>;
  explicit StartedGame(std::uint64_t seed = 1, std::string dataDir = {}) : StartedGame(Options(seed, dataDir)) {}
  explicit StartedGame(HeadlessOptions options, const Watch& watch = {})
      : platform(std::move(options)), game(platform) {
    if (watch) platform.SetSleepHook([this, &watch] { watch(*this); });
    exited = PlayHeadless(game);
    platform.SetSleepHook(nullptr);
    platform.SetRunMs(std::numeric_limits<std::int64_t>::max());
  }
  static HeadlessOptions Options(std::uint64_t seed, const std::string& dataDir) {
    HeadlessOptions o;
    o.seed = seed;
    o.runMs = 0;
    o.dataDir = dataDir;
    return o;
  }
  HeadlessMachine platform;
  frmRallex game;
  bool exited = false;  // the game ended by itself (Esc or the focus lost) within the run
};

// A headless game whose host is wrapped as the desktop wraps it: by the recorder
// (WrappedGame<Recorder> g(options, nullptr)) or the replayer (WrappedGame<Replayer> g(options,
// script, seed)). Start() runs it from start-up as StartedGame does, up to the options' runMs.
template <class Wrapper>
struct WrappedGame {
  template <class... Args>
  explicit WrappedGame(HeadlessOptions options, Args&&... args)
      : host(std::move(options)), wrapper(host, std::forward<Args>(args)...) {}
  bool Start() { return exited = PlayHeadless(game); }
  HeadlessHost host;
  Wrapper wrapper;
  Machine machine{wrapper};
  frmRallex game{machine};
  bool exited = false;
};

}  // namespace qr
