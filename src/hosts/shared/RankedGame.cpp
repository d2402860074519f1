#include "hosts/shared/RankedGame.hpp"

#include "game/app/frmRallex.hpp"
#include "game/scores/HiScoreRecord.hpp"

namespace qr {

LoadedFile RankedGame::LoadFile(const std::string& name, std::size_t limit) {
  if (name == kHiScoreFileName && !tableRead_) {
    tableRead_ = true;
    return LoadedFile{};  // missing: the game starts from its default tables
  }
  return HostWrapper::LoadFile(name, limit);
}

void RankedGame::TextEntry(bool on) {
  HostWrapper::TextEntry(on);
  if (!on && entryEnded_) entryEnded_();
}

std::optional<EntryOutcome> ConfirmedEntry(const frmRallex& game) {
  if (game.exitRequested || game.enteredInitials.size() != 3) return std::nullopt;
  if (game.numPlayers != 1 && game.numPlayers != 2) return std::nullopt;
  EntryOutcome outcome;
  outcome.mode = game.numPlayers;
  outcome.p1Score = game.p1Score;
  outcome.p2Score = game.p2Score;
  // The game names the player it asks: "Player N Enter Your Initials".
  outcome.winner = game.msgLines[5].rfind("Player 2", 0) == 0 ? 2 : 1;
  outcome.initials = game.enteredInitials;
  outcome.gameStartMs = game.gameStartMs;
  return outcome;
}

}  // namespace qr
