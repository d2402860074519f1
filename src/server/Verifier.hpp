#pragma once
// A submitted game, played again headless from its recording: what the rankings keep of it is
// what the replay shows, never what the submitter claims.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qr {

struct VerifyLimits {
  std::size_t maxBytes = 1024 * 1024;        // the recording's text
  std::size_t maxEvents = 100000;            // input lines
  std::int64_t maxGameMs = 30 * 60 * 1000;   // game time, in virtual milliseconds
  std::chrono::milliseconds maxWall{20000};  // the wall clock one replay may take
};

// The outcome of a replay. ok: a game of the recording reached the initials entry and the
// player confirmed three characters; the fields then describe that game.
struct Verdict {
  bool ok = false;
  std::string reason;  // why not, in a sentence for the submitter
  std::uint64_t seed = 0;
  int mode = 0;  // 1 or 2 players
  std::int32_t p1Score = 0;
  std::int32_t p2Score = 0;
  int winner = 0;  // the player who entered the initials: 1, or 2 in a two-player game
  std::string initials;
  std::int64_t entryMs = 0;  // the game time at which the entry was confirmed
};

// Replays a recording of the present format and rules whose game starts from the default
// tables, within the limits. The recording's seed must be expectedSeed.
Verdict VerifyRecording(std::string_view text, std::uint64_t expectedSeed, const VerifyLimits& limits);

}  // namespace qr
