#pragma once
#include <string>
#include <string_view>

namespace qr {

// Replaces the file at path with bytes so that a crash or a power loss at any moment leaves
// either the old file or the new one, never a mix or an empty file: the bytes go to a new file
// in the same directory, are flushed to the disk, and that file is renamed over the old one.
// The directory must exist. On failure returns false with the reason in error; the old file is
// then untouched.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace qr
