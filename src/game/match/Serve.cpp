#include "game/app/Text.hpp"
#include "game/app/frmRallex.hpp"

namespace qr {

// A game starts behind the "Get Ready" banner; two seconds later the ball starts by itself.
void frmRallex::GetReady() {
  form.Cls();
  Update();
  msgLines[7] = "Get Ready";
  message(7, 1, kTrue);
  tmrGetReady.Interval(2000);
  tmrGetReady.Enabled(true);
}

void frmRallex::tmrGetReady_Timer() {
  tmrGetReady.Enabled(false);
  form.Cls();
  Update();
  movingBall = true;
}

// After a point: who serves, and in a two-player game how the server stands.
void frmRallex::DspServingStatus(std::int16_t playerServing) {
  msgLines[6] = "";
  msgLines[7] = "Player " + std::to_string(playerServing) + " Serving";
  if (playerServing == 1) {
    msgLines[7] = "<--  " + msgLines[7];
  } else {
    msgLines[7] += "  -->";
  }
  msgLines[8] = "";
  if (numPlayers == 2 && p1Score != p2Score) {
    const std::int32_t s = playerServing == 1 ? p1Score : p2Score;
    const std::int32_t o = playerServing == 1 ? p2Score : p1Score;
    leadText = s > o ? "Ahead by " + SignedText(s - o) : "Down by " + SignedText(o - s);
    msgLines[6] = msgLines[7];
    msgLines[7] = "";
    const std::int64_t lead = static_cast<std::int64_t>(p1Score) - p2Score;
    msgLines[8] = (lead >= 3 || lead <= -3) ? "GAME POINT" : leadText;
  }
  form.Cls();
  Update();
  message(6, 3, kTrue);
  tmrServe.Interval(1500);
  tmrServe.Enabled(true);
}

void frmRallex::tmrServe_Timer() {
  tmrServe.Enabled(false);
  form.Cls();
  Update();
  waitForServe = true;
  waitForServeTimeout = static_cast<std::int16_t>(numPlayers == 1 ? 150 : 300);
  p1Moving = 0;  // paddle movement before this moment does not serve
  p2Moving = 0;
}

// The server serves by moving the paddle: up gives the flattest upward course, down the
// flattest downward one. Otherwise the ball goes by itself when the wait runs out.
void frmRallex::TestForServe() {
  bool served = false;
  if (ballX < 160) {
    ballY = p1Center;
    if (p1Moving < 0) {
      ballDir = 3;
      served = true;
    } else if (p1Moving > 0) {
      ballDir = 4;
      served = true;
    }
  } else {
    ballY = p2Center;
    if (p2Moving < 0) {
      ballDir = -3;
      served = true;
    } else if (p2Moving > 0) {
      ballDir = -4;
      served = true;
    }
  }
  if (served) {
    waitForServe = false;
    movingBall = true;
  }
  --waitForServeTimeout;
  if (waitForServeTimeout < 1) {
    waitForServe = false;
    movingBall = true;
    ballDir = static_cast<std::int16_t>(RndBelow(6) + 1);
    if (ballX > 160) ballDir = static_cast<std::int16_t>(-ballDir);
  }
}

}  // namespace qr
