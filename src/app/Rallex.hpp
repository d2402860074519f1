#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/Platform.hpp"

namespace qr {

// The small code module of platform wrappers: the pointer move, the sound request and the
// directory that holds the high-score file.
class RallexModule {
 public:
  explicit RallexModule(Platform& platform) : platform_(platform) {}

  // Moves the pointer to (x, y) in screen coordinates.
  void MovePointer(std::int32_t x, std::int32_t y) { platform_.MovePointer(x, y); }
  // Requests the named sound ("SNDPADDLE", ...); the empty name stops the sound. Always 0.
  std::int16_t PlayWave(const std::string& name) {
    platform_.PlaySound(name);
    return 0;
  }
  // The directory of the high-score file, with a trailing separator ("" when files are off).
  std::string GetWindowsDir() {
    std::string dir = platform_.DataDirectory();
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') {
      dir += static_cast<char>(std::filesystem::path::preferred_separator);
    }
    return dir;
  }

 private:
  Platform& platform_;
};

}  // namespace qr
