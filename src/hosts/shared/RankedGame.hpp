#pragma once
// A ranked game, as every client of a rankings server plays it: the seed the server issued, and
// the default high-score tables at start-up, so that any score above their fifth place reaches
// the initials entry whatever the player's own table holds.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "hosts/shared/HostWrapper.hpp"

namespace qr {

class frmRallex;

// Wraps the host below the recorder, so that the recording says what the game saw: the issued
// seed and no table file at start-up. Every later read of the table (the read-again of a save)
// finds the player's own table, into which a new entry goes by the rule of every save: it never
// overwrites a higher score.
class RankedGame final : public HostWrapper {
 public:
  RankedGame(Host& inner, std::uint64_t seed) : HostWrapper(inner), seed_(seed) {}

  std::uint64_t RandomSeed() override { return seed_; }
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  // entryEnded, when set, is called each time the game stops taking initials (confirmed, timed
  // out or abandoned): ConfirmedEntry then says which.
  void TextEntry(bool on) override;
  void OnEntryEnded(std::function<void()> entryEnded) { entryEnded_ = std::move(entryEnded); }

 private:
  std::uint64_t seed_;
  bool tableRead_ = false;
  std::function<void()> entryEnded_;
};

// What a game's initials entry came to, read from the game when the entry ends.
struct EntryOutcome {
  int mode = 0;  // 1 or 2 players
  std::int32_t p1Score = 0;
  std::int32_t p2Score = 0;
  int winner = 0;  // the player who typed the initials
  std::string initials;
  std::int64_t gameStartMs = 0;  // the game time at which the game began (its coin-op start)
};

// The entry just ended with three confirmed characters; nothing when it timed out or the game is
// ending (Esc, a lost focus) or when no game was played.
std::optional<EntryOutcome> ConfirmedEntry(const frmRallex& game);

}  // namespace qr
