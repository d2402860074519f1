#include "game/app/Text.hpp"
#include "game/app/frmRallex.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

// The coin key, read every 250 ms: each tick with Q down (or pressed) is one credit, except
// while the initials are being typed.
void frmRallex::tmrCredit_Timer() {
  if (GetAsyncKeyState(vk::kQ) != 0 && !creditLock) {
    ++credits;
    DspCredits();
    Rallex.PlayWave("SNDCREDIT");
  }
}

void frmRallex::DspCredits() {
  if (credits > 99) credits = 1;
  form.ForeColor(kBlack);
  form.CurrentX = 210;
  form.CurrentY = 217;
  form.Print("Credit " + Format00(creditsShown));
  form.ForeColor(kSilver);
  form.CurrentX = 210;
  form.CurrentY = 217;
  form.Print("Credit " + Format00(credits));
  creditsShown = credits;
}

// The start prompt: 1 buys a one-player game for one credit, 2 a two-player game for two.
void frmRallex::StartPrompt() {
  InitVariables();
  promptEscDown = 0;
  key1Down = 0;
  key2Down = 0;
  gameStarted = false;
  while (promptEscDown == 0 && !gameStarted) {
    machine_.CountPass(LoopId::StartPrompt);
    form.Cls();
    Update();
    if (credits == 1) {
      msgLines[6] = "Press 1 for 1 Player Game";
      msgLines[7] = "";
      msgLines[8] = "Deposit Another Coin For";
      msgLines[9] = "2 Player Game";
      message(6, 4, kTrue);
    } else {
      msgLines[6] = "Press 1 for 1 Player Game";
      msgLines[7] = "";
      msgLines[8] = "Press 2 for 2 Player Game";
      message(6, 3, kTrue);
    }
    DoEvents();
    Sleep(slp);
    if (exitRequested) return;  // the window lost the focus
    promptEscDown = GetAsyncKeyState(vk::kEsc);
    key1Down = GetAsyncKeyState(vk::k1);
    key2Down = GetAsyncKeyState(vk::k2);
    if (key1Down != 0) {
      gameStarted = true;
      --credits;
      numPlayers = 1;
      Restart();
      if (exitRequested) return;
    } else if (key2Down != 0 && credits > 1) {
      gameStarted = true;
      credits = static_cast<std::int16_t>(credits - 2);
      numPlayers = 2;
      Restart();
      if (exitRequested) return;
    }
  }
  if (promptEscDown != 0) exitRequested = true;
}

}  // namespace qr
