#include "game/app/Text.hpp"
#include "game/app/frmRallex.hpp"

namespace qr {

// Both tables on one screen, printed in the current colour over whatever is there.
void frmRallex::DspHighScores() {
  hiScoreTitle = "High Scores";
  form.CurrentX = 155 - form.TextWidth(hiScoreTitle) / 2;
  form.CurrentY = 48;
  form.Print(hiScoreTitle);
  form.CurrentX = 24;
  form.CurrentY = 80;
  form.Print("One Player Game", false);
  form.CurrentX = 172;
  form.Print("Two Player Game");
  for (int i = 1; i <= 5; ++i) {
    form.CurrentX = 40;
    form.Print(hiScores[i].initials, false);
    form.CurrentX = 88;
    form.Print(PrintedNumber(hiScores[i].score), false);
    form.CurrentX = 186;
    form.Print(hiScores2P[i].initials, false);
    form.CurrentX = 232;
    form.Print(PrintedNumber(hiScores2P[i].score) + "/" + PrintedNumber(hiScores2P[i].otherScore));
  }
}

}  // namespace qr
