#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "game/app/frmRallex.hpp"

namespace qr {

// The game state as one JSON object, for tests and the comparison of hosts: the game's public
// state at game time timeMs, whether the game has ended, and the sounds played so far.
std::string StateJson(const frmRallex& game, std::int64_t timeMs, bool exited, const std::vector<std::string>& sounds);

}  // namespace qr
