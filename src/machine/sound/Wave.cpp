#include "machine/sound/Wave.hpp"

#include <algorithm>
#include <cmath>

namespace qr {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

long Quantize(double x, double scale) { return std::lround(std::clamp(x, -1.0, 1.0) * scale); }

}  // namespace

std::size_t SampleCount(std::uint32_t rate, std::uint32_t lengthMs) {
  // Whole numbers only, so that 10026 Hz x 0.38 s is 3810 and not a float's guess.
  return static_cast<std::size_t>((static_cast<std::uint64_t>(rate) * lengthMs + 500) / 1000);
}

std::vector<std::uint8_t> Pcm8(const std::vector<double>& samples) {
  std::vector<std::uint8_t> out;
  out.reserve(samples.size());
  for (double x : samples) out.push_back(static_cast<std::uint8_t>(128 + Quantize(x, 127.0)));
  return out;
}

std::vector<std::uint8_t> Pcm16(const std::vector<double>& samples) {
  std::vector<std::uint8_t> out;
  out.reserve(samples.size() * 2);
  for (double x : samples) Put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(Quantize(x, 32767.0))));
  return out;
}

std::vector<std::uint8_t> RiffWave(std::uint32_t rate, std::uint16_t bitsPerSample,
                                   const std::vector<std::uint8_t>& pcm) {
  const std::uint32_t channels = 1;
  const std::uint32_t blockAlign = channels * bitsPerSample / 8;
  const auto dataSize = static_cast<std::uint32_t>(pcm.size());
  const std::uint32_t pad = dataSize % 2;
  std::vector<std::uint8_t> out;
  out.reserve(44 + pcm.size() + pad);
  PutTag(out, "RIFF");
  Put32(out, 4 + (8 + 16) + (8 + dataSize + pad));
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  Put32(out, 16);
  Put16(out, 1);  // PCM
  Put16(out, channels);
  Put32(out, rate);
  Put32(out, rate * blockAlign);
  Put16(out, blockAlign);
  Put16(out, bitsPerSample);
  PutTag(out, "data");
  Put32(out, dataSize);
  out.insert(out.end(), pcm.begin(), pcm.end());
  if (pad != 0) out.push_back(0);
  return out;
}

}  // namespace qr
