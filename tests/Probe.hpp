#pragma once
// Test access to the game window's private state, and a harness that starts the game headless.
#include <cstdint>
#include <limits>
#include <string>

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

// A game started headless up to its first pause: start-up has run (tables filled, window
// shown, coin timer on) and the attract loop has made its first pass. From here a test sets
// fields and calls procedures directly; the virtual clock runs on until runMs.
struct StartedGame {
  explicit StartedGame(std::uint64_t seed = 1, std::string dataDir = {})
      : platform(Options(seed, dataDir)), game(platform) {
    PlayHeadless(game);
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
};

}  // namespace qr
