#pragma once
// The Windows virtual-key codes of the keys the game and its platform name. The game polls
// the first nine (its key table lists them in this order); the initials entry reads the others
// from key-down events, and the window folds both keys of a modifier into one code.
#include <cstdint>

namespace qr::vk {

// The game's nine keys.
constexpr std::int16_t kEsc = 27;         // abandon the game; elsewhere end the program
constexpr std::int16_t kA = 65;           // player 1 up
constexpr std::int16_t kZ = 90;           // player 1 down
constexpr std::int16_t kSemicolon = 186;  // player 1 down, second key (the semicolon/colon key)
constexpr std::int16_t kUp = 38;          // player 2 up (Up arrow)
constexpr std::int16_t kDown = 40;        // player 2 down (Down arrow)
constexpr std::int16_t kQ = 81;           // insert a coin
constexpr std::int16_t k1 = 49;           // start a one-player game
constexpr std::int16_t k2 = 50;           // start a two-player game

// The initials entry.
constexpr std::int16_t kBackspace = 8;
constexpr std::int16_t kEnter = 13;
constexpr std::int16_t kSpace = 32;
constexpr std::int16_t kLeft = 37;
constexpr std::int16_t kRight = 39;

// Modifiers: one code for the left and the right key.
constexpr std::int16_t kShift = 16;
constexpr std::int16_t kControl = 17;
constexpr std::int16_t kAlt = 18;

}  // namespace qr::vk
