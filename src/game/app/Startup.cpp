#include <cmath>

#include "game/app/frmRallex.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The lines of the text roll, by index; line 0 and the lines not listed stay empty.
struct RollText {
  int index;
  const char* text;
};
constexpr RollText kRollTexts[] = {
    {1, "Quillmarsh Rall 1.0"},
    {3, ""},
    {4, "Visit"},
    {5, "www.quillmarsh.example"},
    {6, ""},
    {7, "If you dont like Rall"},
    {8, "You can go fuck yourself"},
    {9, "             /´¯/) "},
    {10, "           ,/¯  / "},
    {11, "          /    / "},
    {12, "         /´¯/'   '/´¯¯·¸ "},
    {13, "      /'/    /    /    /¨¨/¯\\ "},
    {14, "     ('(    ´    ´     ¯;/'   ') "},
    {15, "      \\                 '     / "},
    {16, "       '\\'   \\           _.·´"},
    {17, "         \\              ( "},
    {18, "           \\             \\ "},
    {19, "Line nineteen"},
    {20, "Line twenty"},
    {21, "Line twenty-one"},
    {22, "Line twenty-two"},
    {23, "Line twenty-three"},
    {24, "Line twenty-four"},
    {25, "Line twenty-five"},
};

}  // namespace

frmRallex::frmRallex(Machine& machine)
    : machine_(machine),
      form(machine.surface()),
      tmrCredit(machine.timer(TimerId::Credit)),
      tmrGetReady(machine.timer(TimerId::GetReady)),
      tmrServe(machine.timer(TimerId::Serve)),
      Rallex(machine) {
  machine_.SetEventSink(this);
}

std::int16_t frmRallex::CenteredX(const std::string& text) const {
  // TextWidth is a whole number of units here, so rounding it changes nothing.
  const int w = form.TextWidth(text);
  return static_cast<std::int16_t>(155 - w / 2);
}

void frmRallex::InitProperties() {
  machine_.SetCaption("Quillmarsh Rall");
  form.ForeColor(kSilver);  // on the black background
  form.FontItalic(false);   // the window font: bold, 10 points
  form.DrawWidth(5);
}

void frmRallex::Form_Load() {
  InitProperties();
  exitRequested = false;
  slp = 10;
  demoSlp = 4;

  for (const RollText& line : kRollTexts) textLines[line.index].text = line.text;
  for (int i = 1; i <= 18; ++i) textLines[i].x = CenteredX(textLines[i].text);

  const std::int16_t gameKeys[9] = {vk::kEsc,  vk::kA, vk::kZ, vk::kSemicolon, vk::kUp,
                                    vk::kDown, vk::kQ, vk::k1, vk::k2};
  for (int i = 0; i < 9; ++i) keys[i] = gameKeys[i];

  // The ball's step for speed s and angle k: the angles k and 7 - k mirror each other.
  for (int s = 1; s <= 3; ++s) {
    const int dx[7] = {0, s + 2, s + 3, s + 4, s + 4, s + 3, s + 2};
    const int dy[7] = {0, -(s + 2), -(s + 1), -s, s, s + 1, s + 2};
    for (int k = 1; k <= 6; ++k) {
      dirStep[s][k] = StepPair{static_cast<std::int16_t>(dx[k]), static_cast<std::int16_t>(dy[k])};
    }
  }

  if (!GetHighScores()) DefaultHiScores(hiScores, hiScores2P);

  machine_.Show();

  // The start-up grid over the background picture; the attract loop's first clear removes it.
  for (int y = 0; y <= 240; y += 40) form.Line(0, y, 319, y);
  for (int x = 1; x <= 316; x += 35) form.Line(x, 0, x, 239);

  Rallex.MovePointer(0, 0);
  credits = 0;
  random_.Seed(machine_.RandomSeed());

  tmrCredit.Enabled(false);
  tmrCredit.Interval(250);
  tmrCredit.Enabled(true);

  DemoLoop();

  tmrCredit.Enabled(false);
  Rallex.PlayWave("");
}

}  // namespace qr
