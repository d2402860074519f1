#pragma once
#include "app/Options.hpp"

namespace qr {

// Runs the game headless as the options say and writes the screenshot and the state.
// Returns the process exit code: 0, or 2 for a script that cannot be used.
int RunHeadless(const Options& options);

}  // namespace qr
