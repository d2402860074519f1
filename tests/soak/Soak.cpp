// Plays the headless game for hours of virtual time under a storm of random keys and checks the
// game's invariants after every pass of every loop.
// Usage: rall_soak [--seed N] [--hours H]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "../Probe.hpp"
#include "machine/VirtualKeys.hpp"

// Live heap blocks, to see that memory does not grow over the hours. (GCC cannot see that this
// operator delete pairs with the operator new above it.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::int64_t liveBlocks = 0;
}
void* operator new(std::size_t n) {
  ++liveBlocks;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  --liveBlocks;
  std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace qr {
namespace {

struct Failure {
  std::string what;
};

void Check(bool ok, const char* what, std::int64_t now) {
  if (!ok) throw Failure{std::string(what) + " at virtual ms " + std::to_string(now)};
}

void CheckInvariants(frmRallex& g, std::int64_t now) {
  auto paddle = [&](std::int16_t y0, std::int16_t y1, std::int16_t c) {
    Check(y1 == y0 + 40 && c == y0 + 20, "paddle geometry inconsistent", now);
    Check(y0 >= 36 && y0 <= 164, "paddle outside its track", now);
  };
  paddle(g.p1y0, g.p1y1, g.p1Center);
  paddle(g.p2y0, g.p2y1, g.p2Center);
  Check(g.ballDir != 0 && g.ballDir >= -6 && g.ballDir <= 6, "ballDir outside +-1..+-6", now);
  if (g.movingBall || g.numPlayers == 0) {
    const std::int16_t y = RallexProbe::ballY(g);
    Check(y >= 37 && y <= 203, "ball outside 37..203 in play", now);
  }
  Check(g.credits >= 0 && g.credits <= 99, "credits outside 0..99", now);
  Check(g.ballSpeed >= 1 && g.ballSpeed <= 3 && g.pSpeed == g.ballSpeed + 4, "speed levels out of step", now);
  for (int i = 1; i <= 5; ++i) {
    for (const std::string* initials :
         {&RallexProbe::hiScores(g)[i].initials, &RallexProbe::hiScores2P(g)[i].initials}) {
      Check(initials->size() == 3, "initials not three characters", now);
      for (char c : *initials) Check(c >= 32 && c <= 96, "initials outside codes 32..96", now);
    }
    Check(RallexProbe::hiScores(g)[i].score >= 0, "negative one-player table score", now);
    Check(RallexProbe::hiScores2P(g)[i].score >= 0 && RallexProbe::hiScores2P(g)[i].otherScore >= 0,
          "negative two-player table score", now);
  }
}

using namespace vk;  // the key codes

// The keys of the game and of the initials entry, with how often the storm presses each.
struct Key {
  int vk;
  int weight;
};
const std::vector<Key> kKeys = {
    {kA, 40},    {kZ, 40},        {kSemicolon, 10}, {kUp, 40},   {kDown, 40},  // play
    {kQ, 12},    {k1, 10},        {k2, 10},                                    // coins, start
    {kEnter, 8}, {kBackspace, 4}, {kLeft, 3},       {kRight, 3}, {kSpace, 3},  // initials editing
    {66, 4},     {67, 4},         {88, 4},          {48, 2},     {57, 2},      // letters, digits
    {96, 1},     {112, 1},                                                     // others
    {kEsc, 1},                                                                 // Esc, rarely
};

}  // namespace
}  // namespace qr

int main(int argc, char** argv) {
  using namespace qr;
  std::uint64_t seed = 1;
  double hours = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--seed")
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (flag == "--hours")
      hours = std::strtod(argv[i + 1], nullptr);
  }
  const std::int64_t endMs = static_cast<std::int64_t>(hours * 3600 * 1000);
  const auto dataDir = std::filesystem::temp_directory_path() / ("rall-soak-" + std::to_string(seed));
  std::filesystem::remove_all(dataDir);
  std::filesystem::create_directories(dataDir);

  HeadlessOptions options;
  options.seed = seed;
  options.runMs = endMs;
  options.dataDir = dataDir.string();
  HeadlessMachine platform(options);

  std::mt19937_64 rng(seed * 7919 + 17);
  std::vector<int> weights;
  for (const Key& k : kKeys) weights.push_back(k.weight);
  std::discrete_distribution<std::size_t> pickKey(weights.begin(), weights.end());
  std::uniform_int_distribution<int> roll(0, 999);
  std::vector<std::pair<std::int64_t, int>> held;  // release time, key

  frmRallex* current = nullptr;
  std::int64_t passes = 0;
  std::int64_t games[3] = {0, 0, 0};
  std::int16_t lastPlayers = 0;
  // The heap is counted every ten virtual minutes, so that the hour of make test gives several
  // counts to compare.
  constexpr std::int64_t kSampleMs = 600 * 1000;
  std::int64_t nextSample = kSampleMs;
  std::vector<std::int64_t> sampleBlocks;
  std::vector<std::size_t> sampleTexts;
  std::string failure;
  platform.SetSleepHook([&] {
    const std::int64_t now = platform.NowMs();
    ++passes;
    CheckInvariants(*current, now);
    if (current->numPlayers != lastPlayers && current->numPlayers > 0) ++games[current->numPlayers];
    lastPlayers = current->numPlayers;
    // Release holds that are over, then maybe press something.
    for (auto it = held.begin(); it != held.end();) {
      if (it->first <= now) {
        platform.AddEvent(ScriptEvent{now, ScriptEvent::Action::Up, it->second, 0});
        it = held.erase(it);
      } else {
        ++it;
      }
    }
    if (roll(rng) < 60) {
      const int vk = kKeys[pickKey(rng)].vk;
      if (vk == kEsc || roll(rng) < 650) {  // Esc is only ever tapped: held, it would end every restart
        platform.AddEvent(ScriptEvent{now, ScriptEvent::Action::Tap, vk, 0});
      } else {
        platform.AddEvent(ScriptEvent{now, ScriptEvent::Action::Down, vk, 0});
        held.emplace_back(now + 20 + roll(rng) * 3, vk);
      }
    }
    if (now >= nextSample) {
      nextSample += kSampleMs;
      platform.ClearSounds();
      sampleBlocks.push_back(liveBlocks);
      sampleTexts.push_back(platform.surface().TextFont().CachedTexts());
    }
  });

  int sessions = 0;
  try {
    for (bool exited = true; exited;) {  // Esc ended the program: start it again
      auto game = std::make_unique<frmRallex>(platform);
      current = game.get();
      ++sessions;
      exited = PlayHeadless(*game);
    }
  } catch (const Failure& f) {
    failure = f.what;
  }
  std::filesystem::remove_all(dataDir);

  std::printf(
      "soak seed %llu: %.2f virtual hours, %lld passes, %d program runs, %lld one-player and %lld two-player games\n",
      static_cast<unsigned long long>(seed), static_cast<double>(platform.NowMs()) / 3600000.0,
      static_cast<long long>(passes), sessions, static_cast<long long>(games[1]), static_cast<long long>(games[2]));
  for (std::size_t i = 0; i < sampleBlocks.size(); ++i) {
    if (i > 0 && (i + 1) % 6 != 0 && i + 1 != sampleBlocks.size()) continue;  // the first, every hour, the last
    std::printf("  after %zu min: %lld live heap blocks, %zu texts kept by the font\n", (i + 1) * 10,
                static_cast<long long>(sampleBlocks[i]), sampleTexts[i]);
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "soak: invariant broken: %s\n", failure.c_str());
    return 1;
  }
  // After the first count the heap may grow only by the texts the font keeps (a few blocks each,
  // and each of its caches is emptied at 8192 texts): anything else growing is a leak.
  if (sampleBlocks.size() < 2) {
    std::fprintf(stderr, "soak: too short to compare the heap (it is counted every 10 virtual minutes)\n");
    return 1;
  }
  const std::int64_t grown = sampleBlocks.back() - sampleBlocks.front();
  const auto texts = static_cast<std::int64_t>(sampleTexts.back()) - static_cast<std::int64_t>(sampleTexts.front());
  if (grown > 3 * std::max<std::int64_t>(texts, 0) + 100) {
    std::fprintf(stderr, "soak: live heap blocks grew from %lld to %lld with only %lld more texts kept\n",
                 static_cast<long long>(sampleBlocks.front()), static_cast<long long>(sampleBlocks.back()),
                 static_cast<long long>(texts));
    return 1;
  }
  return 0;
}
