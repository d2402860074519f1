#include "game/app/frmRallex.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

// The title at the top of the playfield, in italics, two units left of centre.
void frmRallex::DspTitle() {
  const int w = form.TextWidth("Quillmarsh Rall");
  form.CurrentX = 155 - w / 2 - 2;
  form.CurrentY = 5;
  form.FontItalic(true);
  form.Print("Quillmarsh Rall");
  form.FontItalic(false);
}

// Prints msgLines startLine .. startLine + numLines - 1 on the text rows of the same numbers.
void frmRallex::message(std::int16_t startLine, std::int16_t numLines, std::int16_t centerX) {
  form.CurrentX = 0;
  const int h = form.TextHeight("H");
  form.CurrentY = h * startLine;
  for (msgIndex = startLine; msgIndex <= startLine + numLines - 1; ++msgIndex) {
    if (centerX != 0) form.CurrentX = CenteredX(msgLines[msgIndex]);
    form.Print(msgLines[msgIndex]);
  }
}

// The instructions screen, shown for 500 passes unless a credit arrives or Esc is pressed.
void frmRallex::DspInstructions() {
  coinPrompt = "Press Q to deposit virtual coin for credit";
  form.CurrentX = CenteredX(coinPrompt);
  form.CurrentY = 48;
  form.Print(coinPrompt);
  form.CurrentX = 60;
  form.CurrentY = 96;
  form.Print("Player 1", false);
  form.CurrentX = 186;
  form.Print("Player 2");
  form.CurrentX = 60;
  form.Print("A - Up", false);
  form.CurrentX = 183;
  form.Print("Up Arrow");
  form.CurrentX = 60;
  form.Print("Z - Down", false);
  form.CurrentX = 176;
  form.Print("Down Arrow");
  for (instrPass = 1; instrPass <= 500; ++instrPass) {
    DoEvents();
    Sleep(slp);
    if (GetAsyncKeyState(vk::kEsc) != 0) {
      exitRequested = true;
      return;
    }
    if (credits > 0) return;
    if (exitRequested) return;  // the window lost the focus
  }
}

}  // namespace qr
