#include "game/app/frmRallex.hpp"
#include "game/rally/BallCodes.hpp"

namespace qr {

namespace {

std::int16_t Sign(std::int16_t v) { return static_cast<std::int16_t>(v > 0 ? 1 : (v < 0 ? -1 : 0)); }

}  // namespace

std::int16_t frmRallex::TickBall() {
  const std::int16_t k = static_cast<std::int16_t>(ballDir < 0 ? -ballDir : ballDir);
  const StepPair step = dirStep[ballSpeed][k];
  newX = static_cast<std::int16_t>(ballX + Sign(ballDir) * step.dx);
  newY = static_cast<std::int16_t>(ballY + step.dy);

  std::int16_t result = kTickNothing;
  const std::int16_t r = CheckBallX(newX, newY);
  if (r == kBallXOutLeft) {  // out on the left: a point for player 2
    if (numPlayers > 0) Rallex.PlayWave("SNDMISS");
    return kTickPointP2;
  }
  if (r == kBallXOutRight) {  // out on the right; the computer's miss in a one-player game is silent
    if (numPlayers > 1) Rallex.PlayWave("SNDMISS");
    return kTickPointP1;
  }
  if (r == kBallXLeftHit) {
    if (numPlayers > 0) Rallex.PlayWave("SNDPADDLE");
    newX = 22;
    CheckInfiniteLeft(ballY);
    ballDir = static_cast<std::int16_t>(-Sign(ballDir) * pHitOfs);
    result = kTickLeftReturn;
  } else if (r == kBallXRightHit) {
    if (numPlayers > 0) Rallex.PlayWave("SNDPADDLE");
    newX = 297;
    CheckInfiniteRight(ballY);
    ballDir = static_cast<std::int16_t>(-Sign(ballDir) * pHitOfs);
    result = kTickRightReturn;
  }

  const std::int16_t r2 = CheckBallY(newX, newY);
  if (r2 == kBallYTop || r2 == kBallYBottom) {
    if (numPlayers > 0) Rallex.PlayWave("SNDBORDER");
    newY = r2 == kBallYTop ? 37 : 203;
    ballDir = InverseDir(ballDir);
  }

  Ball(newX, newY);
  return result;
}

namespace {

// The rebound zone 1 (top edge) .. 6 (bottom edge) of a hit at Y on a paddle centred at m.
std::int16_t HitZone(std::int16_t Y, std::int16_t m) {
  std::int16_t zone = 0;
  if (Y > m + 16) zone = 6;
  if (Y <= m + 16) zone = 5;
  if (Y <= m + 8) zone = 4;
  if (Y <= m) zone = 3;
  if (Y <= m - 8) zone = 2;
  if (Y <= m - 16) zone = 1;
  return zone;
}

}  // namespace

std::int16_t frmRallex::CheckBallX(std::int16_t X, std::int16_t Y) {
  std::int16_t result = kBallXNone;
  if (missedBall) {
    if (X - 8 < -16) result = kBallXOutLeft;
    if (X + 8 > 333) result = kBallXOutRight;
    return result;
  }
  if (X - 8 < 15) {
    if (Y >= p1y0 - 6 && Y <= p1y1 + 6) {
      pHitOfs = HitZone(Y, p1Center);
      result = kBallXLeftHit;
    } else {
      result = kBallXLeftMiss;
      missedBall = true;
    }
  }
  if (X + 8 > 304) {
    if (Y >= p2y0 - 6 && Y <= p2y1 + 6) {
      pHitOfs = HitZone(Y, p2Center);
      result = kBallXRightHit;
    } else {
      result = kBallXRightMiss;
      missedBall = true;
    }
  }
  return result;
}

std::int16_t frmRallex::CheckBallY(std::int16_t /*X*/, std::int16_t Y) {
  std::int16_t result = kBallYNone;
  if (Y - 8 < 30) result = kBallYTop;
  if (Y + 8 > 210) result = kBallYBottom;
  return result;
}

std::int16_t frmRallex::InverseDir(std::int16_t dir) {
  const std::int16_t magnitude = static_cast<std::int16_t>(dir < 0 ? -dir : dir);
  return static_cast<std::int16_t>((7 - magnitude) * Sign(dir));
}

// The guard against endless rallies: the seventh hit in a row at exactly the height of the
// previous hit on its own side changes the rebound zone by one step. The count is shared by
// both sides.
void frmRallex::CheckInfiniteLeft(std::int16_t Y) { CheckInfinite(Y, lastLeftHitY); }

void frmRallex::CheckInfiniteRight(std::int16_t Y) { CheckInfinite(Y, lastRightHitY); }

void frmRallex::CheckInfinite(std::int16_t Y, std::int16_t& lastHitY) {
  if (Y == lastHitY) {
    ++infCount;
    if (infCount > 6) {
      pHitOfs = static_cast<std::int16_t>(pHitOfs <= 3 ? pHitOfs + 1 : pHitOfs - 1);
      infCount = 0;
    }
  } else {
    infCount = 0;
  }
  lastHitY = Y;
}

void frmRallex::Ball(std::int16_t X, std::int16_t Y) {
  form.DrawWidth(8);
  form.ForeColor(kBlack);
  form.PSet(ballX, ballY);
  form.DrawWidth(5);
  form.ForeColor(kSilver);
  ballX = X;
  ballY = Y;
  form.PSet(ballX, ballY);
  form.DrawWidth(3);
  form.PSet(ballX, ballY - 2);
  form.PSet(ballX, ballY + 2);
  form.PSet(ballX - 2, ballY);
  form.PSet(ballX + 2, ballY);
  form.DrawWidth(5);
}

void frmRallex::SetRandomBallDirStart() {
  ballX = RndBelow(2) == 0 ? 80 : 240;
  ballY = 120;
  ballDir = RndBelow(2) == 0 ? 3 : 4;
  if (ballX == 240) ballDir = static_cast<std::int16_t>(-ballDir);
}

}  // namespace qr
