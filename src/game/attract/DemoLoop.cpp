#include "game/app/frmRallex.hpp"
#include "game/rally/BallCodes.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

constexpr int kRollLast = 30;  // the roll ends when its bottom line passes this index
constexpr int kDemoPasses = 250;
constexpr int kHighScorePasses = 1000;

}  // namespace

// The attract mode, the program's outer loop: a rally played by the computer on both sides,
// with the text roll, the instructions and the high scores over it. A credit leads to the
// start prompt; Esc ends the program.
void frmRallex::DemoLoop() {
  auto newAim = [this] {
    demoAimOfs = RndBelow(20);
    if (RndBelow(2) == 0) demoAimOfs = static_cast<std::int16_t>(-demoAimOfs);
  };
  for (;;) {
    ClearKeys();
    numPlayers = 0;
    demoLevel = 0;
    newAim();
    demoEscDown = 0;

    for (;;) {
      if (demoEscDown != 0 || credits != 0) break;
      machine_.CountPass(LoopId::DemoLoop);
      DemoLevels();
      if (exitRequested) return;
      tickResult = TickBall();
      if (tickResult == kTickPointP1) ScoreP1();
      if (tickResult == kTickPointP2) ScoreP2();
      if (ballDir != demoLastDir) newAim();
      demoLastDir = ballDir;

      // The computer steers the paddle the ball travels towards.
      if (ballDir < 0) {
        demoAimY = static_cast<std::int16_t>(demoAimOfs + p1Center);
        if (ballY < demoAimY - pSpeed && ballY < demoAimY) {
          MoveP1(static_cast<std::int16_t>(-pSpeed));
        } else if (ballY > demoAimY + pSpeed && ballY > demoAimY) {
          MoveP1(pSpeed);
        }
      } else {
        demoAimY = static_cast<std::int16_t>(demoAimOfs + p2Center);
        if (ballY < demoAimY - pSpeed && ballY < demoAimY) {
          MoveP2(static_cast<std::int16_t>(-pSpeed));
        } else if (ballY > demoAimY + pSpeed && ballY > demoAimY) {
          MoveP2(pSpeed);
        }
      }

      DoEvents();
      Sleep(demoLevel == 1 || demoLevel == 4 ? demoSlp : slp);
      demoEscDown = GetAsyncKeyState(vk::kEsc);
    }

    if (demoEscDown != 0) {
      exitRequested = true;
      return;
    }
    // A point of the demonstration announces a serve and arms its timer. Left armed, it would
    // fire in the prompt or behind the "Get Ready" of the game bought there, and start that
    // game's ball early.
    tmrServe.Enabled(false);
    StartPrompt();
    if (exitRequested) return;
  }
}

// Advances the attract phase; a phase that ends runs on into the next in the same call.
void frmRallex::DemoLevels() {
  if (demoLevel == 0) {
    demoLevel = 1;
    InitVariables();
    form.Cls();
    Update();
    rollTick = 2;
    rollY = 40;
    rollStep = 0;
    rollLine = 0;
  }

  if (demoLevel == 1) {
    rollActive = rollLine < kRollLast;
    if (!rollActive) {
      demoLevel = 2;
    } else {
      --rollTick;
      if (rollTick < 1) {
        // One scroll step: the window of eleven rows moves up by one unit.
        rollTick = 2;
        form.Cls();
        Update();
        form.CurrentY = rollY;
        for (int i = rollLine - 10; i <= rollLine; ++i) {
          if (i >= 1 && i <= 18) {
            form.CurrentX = textLines[i].x;
            form.Print(textLines[i].text);
          } else {
            form.Print("");
          }
        }
        --rollY;
        ++rollStep;
        if (rollStep > 15) {
          ++rollLine;
          rollY = 40;
          rollStep = 0;
        }
      }
    }
  }

  if (demoLevel == 2) {
    InitVariables();
    form.Cls();
    Update();
    DspInstructions();
    if (exitRequested) return;
    demoLevel = 3;
    demoCount = 0;
    InitVariables();
    form.Cls();
    Update();
  }

  if (demoLevel == 3) {
    ++demoCount;
    if (demoCount > kDemoPasses) {
      demoLevel = 4;
      demoCount = 0;
    }
  }

  if (demoLevel == 4) {
    DspHighScores();
    ++demoCount;
    if (demoCount > kHighScorePasses) {
      demoLevel = 1;
      rollTick = 2;
      rollY = 40;
      rollStep = 0;
      rollLine = 0;
    }
  }
}

}  // namespace qr
