#pragma once
#include <cstdint>

namespace qr {

// The game's random generator: a fixed small algorithm (SplitMix64 to seed, xoshiro256** to
// draw), so that a seed gives the same game on every machine and with every library.
class Random {
 public:
  explicit Random(std::uint64_t seed = 1) { Seed(seed); }

  void Seed(std::uint64_t seed) {
    std::uint64_t x = seed;
    for (auto& word : s_) {
      x += 0x9E3779B97F4A7C15ull;
      std::uint64_t z = x;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, 1), from the top 53 bits.
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

  // The integer part of n times a uniform value: 0 .. n - 1.
  std::int16_t Below(int n) { return static_cast<std::int16_t>(static_cast<double>(n) * Uniform()); }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4] = {};
};

}  // namespace qr
