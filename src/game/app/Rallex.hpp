#pragma once
#include <cstdint>
#include <string>

#include "machine/Machine.hpp"

namespace qr {

// The small code module of platform wrappers: the pointer move, the sound request and the
// directory that holds the high-score file.
class RallexModule {
 public:
  explicit RallexModule(Machine& machine) : machine_(machine) {}

  // Moves the pointer to (x, y) in screen coordinates.
  void MovePointer(std::int32_t x, std::int32_t y) { machine_.MovePointer(x, y); }
  // Requests the named sound ("SNDPADDLE", ...); the empty name stops the sound. Always 0.
  std::int16_t PlayWave(const std::string& name) {
    machine_.PlaySound(name);
    return 0;
  }
  // Where the high-score file is kept, with a trailing separator ("" when files are off).
  std::string GetWindowsDir() { return machine_.FilesLocation(); }

 private:
  Machine& machine_;
};

}  // namespace qr
