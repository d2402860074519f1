#pragma once
#include "app/Options.hpp"

namespace qr {

// Runs the game headless as the options say and writes the screenshot and the state.
// Returns the process exit code: 0; 2 for a script that cannot be used (nothing is run); 1 when
// the screenshot or the state cannot be written (the message names the file).
int RunHeadless(const Options& options);

}  // namespace qr
