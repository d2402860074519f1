#pragma once
#include <string>

namespace qr {

// Where the high-score file lives on this machine, with a trailing separator:
// $XDG_DATA_HOME/quillmarsh-rall/ or ~/.local/share/quillmarsh-rall/ on Linux. Created only
// when the file is first written.
std::string DefaultDataDirectory();

}  // namespace qr
