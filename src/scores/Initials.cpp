#include "app/frmRallex.hpp"

namespace qr {

// Stand-ins until qualification and initials entry are built.
void frmRallex::CheckForHighScore() {}

void frmRallex::GetInitials(std::int16_t /*player*/) {}

}  // namespace qr
