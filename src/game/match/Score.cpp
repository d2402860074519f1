#include "game/app/Text.hpp"
#include "game/app/frmRallex.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The score as the score line shows it: reduced by 999 as long as it is 1000 or more
// (1000 shows as 1, 1998 as 999, 1999 as 1), worked out on the full 32-bit score.
std::int16_t ShownScore(std::int32_t score) {
  if (score < 1000) return static_cast<std::int16_t>(score);
  return static_cast<std::int16_t>((score - 1) % 999 + 1);
}

}  // namespace

// Player 1 won the point: one point in a two-player game, the bonus in a one-player game.
void frmRallex::ScoreP1() {
  movingBall = false;
  missedBall = false;
  if (numPlayers == 2) {
    ++p1Score;
  } else {
    Player1Bonus();
  }
  if (numPlayers == 2 && (p1Score - p2Score > 3 || p2Score - p1Score > 3)) {
    endGame = true;
    return;
  }
  ballX = 296;
  DspServingStatus(2);
}

// Player 2 (or the computer) won the point; a one-player game loses a paddle.
void frmRallex::ScoreP2() {
  movingBall = false;
  missedBall = false;
  ++p2Score;
  if (numPlayers == 1) {
    --paddles;
    if (paddles < 1) {
      endGame = true;
      return;
    }
  }
  if (numPlayers == 2 && (p1Score - p2Score > 3 || p2Score - p1Score > 3)) {
    endGame = true;
    return;
  }
  ballX = 23;
  DspServingStatus(1);
}

void frmRallex::ScoreP1_1Player() {
  ++p1Score;
  DspScore();
}

// The bonus pause: the bonus text blinks (6 ticks on, 3 off) for 200 ticks, then is awarded.
void frmRallex::Player1Bonus() {
  form.Cls();
  Update();
  Rallex.PlayWave("SNDBONUS");
  bonusVisible = false;
  bonusBlinkCount = 0;
  for (int tick = 1; tick <= 200; ++tick) {
    if (bonusBlinkCount < 1) {
      bonusBlinkCount = static_cast<std::int16_t>(bonusVisible ? 3 : 6);
      bonusVisible = !bonusVisible;
      msgLines[7] = "BONUS " + SignedText(p1Bonus) + " POINTS";
      if (!bonusVisible) form.ForeColor(kBlack);
      message(7, 1, kTrue);
      form.ForeColor(kSilver);
    }
    --bonusBlinkCount;
    DoEvents();
    Sleep(slp);
    if (GetAsyncKeyState(vk::kEsc) != 0) {
      endGame = true;
      exitRequested = true;
      return;
    }
    if (exitRequested) return;  // the window lost the focus: no award, the game ends
  }
  p1Score += p1Bonus;
  p1Bonus = static_cast<std::int16_t>(p1Bonus + 5);
}

// The score line, and in a one-player game the paddles-left markers.
void frmRallex::DspScore() {
  p1ScoreShown = ShownScore(p1Score);
  p2ScoreShown = ShownScore(p2Score);
  form.ForeColor(kBlack);
  form.CurrentX = 5;
  form.CurrentY = 5;
  form.Print("Player 1  " + Format00(p1ScorePrinted));
  form.ForeColor(kSilver);
  form.CurrentX = 5;
  form.CurrentY = 5;
  form.Print("Player 1  " + Format00(p1ScoreShown));
  if (numPlayers == 2) {
    form.ForeColor(kBlack);
    form.CurrentX = 225;
    form.CurrentY = 5;
    form.Print("Player 2  " + Format00(p2ScorePrinted));
    form.ForeColor(kSilver);
    form.CurrentX = 225;
    form.CurrentY = 5;
    form.Print("Player 2  " + Format00(p2ScoreShown));
  }
  p1ScorePrinted = p1ScoreShown;
  p2ScorePrinted = p2ScoreShown;
  if (numPlayers == 1) {
    form.DrawWidth(1);
    form.Box(0, 215, 160, 240, kBlack, true);
    const std::int16_t count = paddles;
    for (int i = 1; i <= count; ++i) {
      const int x = 15 + 8 * (i - 1);
      form.Box(x, 220, x + 2, 230, kSilver, true);
    }
    form.DrawWidth(5);
  }
}

}  // namespace qr
