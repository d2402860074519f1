#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qr {

// Number of samples in a sound of the given length: rate x length, to the nearest sample.
std::size_t SampleCount(std::uint32_t rate, std::uint32_t lengthMs);

// Mono PCM in the two depths the game's sounds use, from samples in -1..1 (clipped outside).
// 8-bit is unsigned around the silence level 128; 16-bit is signed little-endian around 0.
std::vector<std::uint8_t> Pcm8(const std::vector<double>& samples);
std::vector<std::uint8_t> Pcm16(const std::vector<double>& samples);

// A complete single-channel RIFF/WAVE file holding the PCM data as it is. A data chunk of odd
// size is followed by the pad byte that RIFF requires; the chunk size does not count it.
std::vector<std::uint8_t> RiffWave(std::uint32_t rate, std::uint16_t bitsPerSample,
                                   const std::vector<std::uint8_t>& pcm);

}  // namespace qr
