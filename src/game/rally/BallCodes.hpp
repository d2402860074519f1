#pragma once
// The results of the ball's procedures, as 16-bit codes.
#include <cstdint>

namespace qr {

// TickBall: what one step of the ball reports to the loop that moves it.
constexpr std::int16_t kTickNothing = 0;
constexpr std::int16_t kTickLeftReturn = 1;   // player 1's paddle returned the ball
constexpr std::int16_t kTickRightReturn = 2;  // player 2's paddle returned the ball
constexpr std::int16_t kTickPointP1 = 9;      // the ball left the field on the right
constexpr std::int16_t kTickPointP2 = 10;     // the ball left the field on the left

// CheckBallX: the candidate position against the paddle lines and the field ends.
constexpr std::int16_t kBallXNone = 0;
constexpr std::int16_t kBallXLeftHit = 1;
constexpr std::int16_t kBallXRightHit = 2;
constexpr std::int16_t kBallXLeftMiss = 5;   // past the left paddle line outside the paddle
constexpr std::int16_t kBallXRightMiss = 6;  // past the right paddle line outside the paddle
constexpr std::int16_t kBallXOutLeft = 7;    // a missed ball has left the field on the left
constexpr std::int16_t kBallXOutRight = 8;   // a missed ball has left the field on the right

// CheckBallY: the candidate y against the borders.
constexpr std::int16_t kBallYNone = 0;
constexpr std::int16_t kBallYTop = 3;
constexpr std::int16_t kBallYBottom = 4;

}  // namespace qr
