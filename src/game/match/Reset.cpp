#include "game/app/frmRallex.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

// One whole game, from its reset to its end.
void frmRallex::Restart() {
  gameStartMs = machine_.NowMs();
  InitVariables();
  GetReady();
  MainLoop();
}

// The starting position of a game (and of every demonstration rally). Draws nothing.
void frmRallex::InitVariables() {
  movingBall = false;
  missedBall = false;
  waitForServe = false;
  ballSpeed = 1;
  SetRandomBallDirStart();
  endGame = false;
  infCount = 0;
  creditLock = false;
  p1Score = 0;
  p2Score = 0;
  p1x0 = 15;
  p1x1 = 15;
  p1Bonus = 10;
  paddles = 3;
  pSpeed = 5;
  p1Center = 120;
  p1y0 = 100;
  p1y1 = 140;
  p2Center = 120;
  p2x0 = 304;
  p2y0 = 100;
  p2x1 = 304;
  p2y1 = 140;
}

// The result over the last picture of the game, a pause of 300 ticks, then the high scores.
void frmRallex::GameOver() {
  if (exitRequested) return;
  DspScore();
  if (numPlayers == 2) {
    msgLines[6] = p1Score > p2Score ? "Player 1 Is The Winner" : "Player 2 Is The Winner";
    msgLines[7] = "";
    msgLines[8] = "Game Over";
    message(6, 3, kTrue);
  } else {
    msgLines[7] = "Game Over";
    message(7, 1, kTrue);
  }
  for (gameOverTicks = 1; gameOverTicks <= 300; ++gameOverTicks) {
    DoEvents();
    if (GetAsyncKeyState(vk::kEsc) != 0) {
      exitRequested = true;
      return;
    }
    if (exitRequested) return;  // the window lost the focus during the pause
    Sleep(slp);
  }
  endGame = false;
  CheckForHighScore();
  if (!exitRequested) numPlayers = 0;
}

}  // namespace qr
