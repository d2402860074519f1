#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qr {

// One of the game's five sounds as a complete RIFF/WAVE file: single-channel PCM, composed by
// the program itself.
struct GameSound {
  std::string name;  // "SNDBORDER", "SNDPADDLE", "SNDMISS", "SNDBONUS" or "SNDCREDIT"
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
  std::uint32_t lengthMs = 0;
  std::vector<std::uint8_t> wave;
};

// The five sounds, composed at the first call (a few milliseconds) and kept for the run.
const std::vector<GameSound>& GameSounds();
// The sound of that name, or nullptr.
const GameSound* FindGameSound(const std::string& name);

}  // namespace qr
