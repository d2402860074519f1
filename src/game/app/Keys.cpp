#include "game/app/frmRallex.hpp"

namespace qr {

void frmRallex::ClearKeys() {
  // Each query clears the key's pressed-since-the-last-query bit.
  for (int i = 0; i <= 8; ++i) GetAsyncKeyState(keys[i]);
  DoEvents();
}

void frmRallex::Form_KeyDown(std::int16_t KeyCode, std::int16_t /*Shift*/) { lastKeyCode = KeyCode; }

void frmRallex::Form_LostFocus() {
  exitRequested = true;
  endGame = true;
}

void frmRallex::TimerEvent(TimerId id) {
  switch (id) {
    case TimerId::Credit:
      tmrCredit_Timer();
      break;
    case TimerId::GetReady:
      tmrGetReady_Timer();
      break;
    case TimerId::Serve:
      tmrServe_Timer();
      break;
  }
}

}  // namespace qr
