#include "app/frmRallex.hpp"

namespace qr {

// Stand-ins until the high-score file is built: no file, default tables.
bool frmRallex::GetHighScores() { return false; }

void frmRallex::SaveHighScores() {}

}  // namespace qr
