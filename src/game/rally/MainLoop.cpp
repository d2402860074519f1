#include "game/app/frmRallex.hpp"
#include "game/rally/BallCodes.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

void frmRallex::MainLoop() {
  ClearKeys();  // key presses made before the game do not count
  frameCount = 0;
  speedUpCount = 0;
  ballSpeed = 1;
  pSpeed = 5;
  if (numPlayers == 1) {
    aimOfs = RndBelow(25);
    if (RndBelow(2) == 0) aimOfs = static_cast<std::int16_t>(-aimOfs);
  }

  for (;;) {
    machine_.CountPass(LoopId::MainLoop);
    if (GetAsyncKeyState(vk::kEsc) != 0 || endGame) {
      ballSpeed = 1;
      pSpeed = 5;
      DoEvents();
      if (endGame) {
        GameOver();
      } else {
        // The Esc that abandons the game must not end the program as well: the attract loop
        // polls Esc again a few milliseconds later, while the key is still held. Wait until it
        // is let go. A press seen here is a new one (the keyboard's repeat is none): the key was
        // let go and pressed again between two polls, which is the second Esc, and that ends
        // the program, as Esc does outside a rally.
        for (;;) {
          const std::int16_t esc = GetAsyncKeyState(vk::kEsc);
          if (esc == 0 || exitRequested) break;
          if ((esc & 1) != 0) {
            exitRequested = true;
            break;
          }
          DoEvents();
          Sleep(slp);
        }
      }
      // A game left while "Get Ready" or the serve announcement is up must not leave their
      // timers armed: the event would fire later in the prompt or the next game.
      tmrGetReady.Enabled(false);
      tmrServe.Enabled(false);
      return;
    }

    if (GetAsyncKeyState(vk::kA) != 0) MoveP1(static_cast<std::int16_t>(-pSpeed));
    const std::int16_t zDown = GetAsyncKeyState(vk::kZ);
    const std::int16_t colonDown = GetAsyncKeyState(vk::kSemicolon);
    if (zDown != 0 || colonDown != 0) MoveP1(pSpeed);
    if (numPlayers == 2) {
      if (GetAsyncKeyState(vk::kUp) != 0) MoveP2(static_cast<std::int16_t>(-pSpeed));
      if (GetAsyncKeyState(vk::kDown) != 0) MoveP2(pSpeed);
    }

    if (movingBall) {
      const std::int16_t r = TickBall();
      if (r == kTickPointP1 || r == kTickPointP2) {
        if (r == kTickPointP1) {
          ScoreP1();
        } else {
          ScoreP2();
        }
        ballSpeed = 1;
        pSpeed = 5;
        speedUpCount = 0;
      }
      if (numPlayers == 1 && ballDir > 0) {
        // The computer's paddle heads for the ball, meeting it aimOfs below its centre.
        if (r == kTickLeftReturn) {
          ScoreP1_1Player();
          aimOfs = (pHitOfs == 6 || pHitOfs == 1) ? RndBelow(25) : RndBelow(22);
          if (RndBelow(2) == 0) aimOfs = static_cast<std::int16_t>(-aimOfs);
        }
        aimY = static_cast<std::int16_t>(p2Center + aimOfs);
        if (ballY < aimY - pSpeed && ballY < aimY) {
          MoveP2(static_cast<std::int16_t>(-pSpeed));
        } else if (ballY > aimY + pSpeed && ballY > aimY) {
          MoveP2(pSpeed);
        }
      }
    } else {
      DoEvents();
      if (waitForServe) TestForServe();
    }

    machine_.Refresh();

    // Every 100 passes: the window system gets its turn, and every eleventh time the play
    // speeds up, up to the third level.
    if (frameCount == 100) {
      DoEvents();
      frameCount = 0;
      ++speedUpCount;
      if (speedUpCount > 10) {
        if (ballSpeed < 3) {
          ++ballSpeed;
          ++pSpeed;
        }
        speedUpCount = 0;
      }
    }

    Sleep(slp);
    ++frameCount;
  }
}

void frmRallex::Update() {
  form.Line(15, 30, 304, 30);
  form.Line(15, 210, 304, 210);
  form.Line(p1x0, p1y0, p1x1, p1y1);
  form.Line(p2x0, p2y0, p2x1, p2y1);
  if (numPlayers > 0) {
    DspScore();
  } else {
    DspTitle();
  }
  DspCredits();
}

}  // namespace qr
