#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "machine/sound/GameSounds.hpp"
#include "machine/sound/Wave.hpp"

namespace qr {
namespace {

// A WAVE file read back through SDL's own reader, samples relative to the silence level.
struct Decoded {
  bool ok = false;
  int rate = 0;
  SDL_AudioFormat format = 0;
  int channels = 0;
  std::vector<int> samples;
};

Decoded Decode(const std::vector<std::uint8_t>& wave) {
  Decoded d;
  SDL_AudioSpec wav;
  Uint8* buffer = nullptr;
  Uint32 length = 0;
  SDL_RWops* rw = SDL_RWFromConstMem(wave.data(), static_cast<int>(wave.size()));
  if (rw == nullptr || SDL_LoadWAV_RW(rw, 1, &wav, &buffer, &length) == nullptr) return d;
  d.ok = true;
  d.rate = wav.freq;
  d.format = wav.format;
  d.channels = wav.channels;
  if (wav.format == AUDIO_U8) {
    for (Uint32 i = 0; i < length; ++i) d.samples.push_back(buffer[i] - 128);
  } else if (wav.format == AUDIO_S16LSB) {
    for (Uint32 i = 0; i + 1 < length; i += 2) {
      d.samples.push_back(static_cast<std::int16_t>(buffer[i] | (buffer[i + 1] << 8)));
    }
  }
  SDL_FreeWAV(buffer);
  return d;
}

double FullScale(const Decoded& d) { return d.format == AUDIO_U8 ? 127.0 : 32767.0; }

// The samples from..to seconds, as fractions of full scale.
std::vector<double> Window(const Decoded& d, double from, double to) {
  std::vector<double> out;
  const auto first = static_cast<std::size_t>(from * d.rate);
  const auto last = std::min(d.samples.size(), static_cast<std::size_t>(to * d.rate));
  for (std::size_t i = first; i < last; ++i) out.push_back(d.samples[i] / FullScale(d));
  return out;
}

double Peak(const std::vector<double>& x) {
  double p = 0;
  for (double v : x) p = std::max(p, std::abs(v));
  return p;
}

// Power of one frequency in a window (Goertzel).
double PowerAt(const std::vector<double>& x, double rate, double freq) {
  const double w = 2.0 * std::numbers::pi * freq / rate;
  const double c = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (double v : x) {
    const double s0 = v + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The strongest frequency of a window, searched in 2 Hz steps from 60 Hz to 5 kHz (below
// the Nyquist frequency of the rate).
double Dominant(const Decoded& d, double from, double to) {
  const std::vector<double> x = Window(d, from, to);
  double best = 0, bestPower = -1;
  for (double f = 60; f < std::min(5000.0, d.rate / 2.0); f += 2) {
    const double p = PowerAt(x, d.rate, f);
    if (p > bestPower) {
      bestPower = p;
      best = f;
    }
  }
  return best;
}

Decoded Sound(const char* name) {
  const GameSound* s = FindGameSound(name);
  EXPECT_NE(s, nullptr) << name;
  return s != nullptr ? Decode(s->wave) : Decoded{};
}

TEST(Wave, OddDataIsPaddedAndReadBackExactly) {
  const std::vector<std::uint8_t> pcm = {128, 0, 255};
  const std::vector<std::uint8_t> wave = RiffWave(11025, 8, pcm);
  ASSERT_EQ(wave.size(), 44u + 3u + 1u);
  const auto le32 = [&](std::size_t at) {
    return wave[at] | (wave[at + 1] << 8) | (wave[at + 2] << 16) | (wave[at + 3] << 24);
  };
  EXPECT_EQ(le32(4), static_cast<int>(wave.size()) - 8);  // the RIFF size counts the pad byte
  EXPECT_EQ(le32(40), 3);                                 // the data size does not
  const Decoded d = Decode(wave);
  ASSERT_TRUE(d.ok) << SDL_GetError();
  EXPECT_EQ(d.rate, 11025);
  EXPECT_EQ(d.samples, (std::vector<int>{0, -128, 127}));
}

TEST(Wave, SixteenBitSamplesAreSignedAndClipped) {
  const std::vector<std::uint8_t> wave = RiffWave(8000, 16, Pcm16({-1.0, 0.0, 1.0, 0.5, 2.0, -3.0}));
  EXPECT_EQ(wave[32], 2);     // block align
  EXPECT_EQ(wave[28], 0x80);  // byte rate 16000 = 0x3E80
  EXPECT_EQ(wave[29], 0x3E);
  const Decoded d = Decode(wave);
  ASSERT_TRUE(d.ok) << SDL_GetError();
  EXPECT_EQ(d.format, AUDIO_S16LSB);
  EXPECT_EQ(d.samples, (std::vector<int>{-32767, 0, 32767, 16384, 32767, -32767}));
}

TEST(Wave, EightBitSamplesSitAroundTheSilenceLevel) {
  EXPECT_EQ(Pcm8({0.0, -1.0, 1.0, 5.0, -5.0, 0.001}), (std::vector<std::uint8_t>{128, 1, 255, 255, 1, 128}));
}

TEST(Wave, SampleCountsRoundToTheNearestSample) {
  EXPECT_EQ(SampleCount(10026, 380), 3810u);  // 3809.88
  EXPECT_EQ(SampleCount(1001, 500), 501u);    // 500.5 goes up
  EXPECT_EQ(SampleCount(999, 500), 500u);     // 499.5 goes up
  EXPECT_EQ(SampleCount(1003, 100), 100u);    // 100.3 goes down
}

struct Expected {
  const char* name;
  int rate;
  SDL_AudioFormat format;
  std::size_t samples;
};

const Expected kExpected[] = {
    {"SNDBORDER", 16000, AUDIO_U8, 4000},     {"SNDPADDLE", 16000, AUDIO_U8, 4000}, {"SNDMISS", 22050, AUDIO_U8, 15435},
    {"SNDBONUS", 22050, AUDIO_S16LSB, 71442}, {"SNDCREDIT", 10026, AUDIO_U8, 3810},
};

TEST(GameSounds, AreTheFiveInTheirOwnFormats) {
  ASSERT_EQ(GameSounds().size(), 5u);
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    const Decoded d = Sound(e.name);
    ASSERT_TRUE(d.ok) << SDL_GetError();
    EXPECT_EQ(d.rate, e.rate);
    EXPECT_EQ(d.format, e.format);
    EXPECT_EQ(d.channels, 1);
    EXPECT_EQ(d.samples.size(), e.samples);
  }
  EXPECT_EQ(FindGameSound(""), nullptr);
  EXPECT_EQ(FindGameSound("SNDPADDLEX"), nullptr);
}

TEST(GameSounds, StartAndEndSilentWithoutClicks) {
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    const Decoded d = Sound(e.name);
    ASSERT_FALSE(d.samples.empty());
    EXPECT_EQ(d.samples.front(), 0);
    EXPECT_EQ(d.samples.back(), 0);
    // Faded in and out: the first and the last half millisecond stay near silence.
    const double half = 0.0005;
    const double length = static_cast<double>(d.samples.size()) / d.rate;
    EXPECT_LT(Peak(Window(d, 0, half)), 0.1);
    EXPECT_LT(Peak(Window(d, length - half, length)), 0.1);
  }
}

TEST(GameSounds, AreLoudBetweenTheEnds) {
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    const Decoded d = Sound(e.name);
    // The first tenth of every sound is well up, and none clips.
    const double length = static_cast<double>(d.samples.size()) / d.rate;
    const double peak = Peak(Window(d, 0, length));
    EXPECT_GT(Peak(Window(d, 0.005, length / 10)), 0.5);
    EXPECT_GT(peak, 0.7);
    EXPECT_LT(peak, 1.0);
  }
}

TEST(GameSounds, PaddleBlipIsHigherAndBrighterThanTheBorderBlip) {
  const Decoded paddle = Sound("SNDPADDLE");
  const Decoded border = Sound("SNDBORDER");
  const double fp = Dominant(paddle, 0.005, 0.045);
  const double fb = Dominant(border, 0.005, 0.045);
  EXPECT_GT(fp, 1.5 * fb);
  EXPECT_GT(fb, 200);
  EXPECT_LT(fp, 2000);
  // Brightness: the third harmonic against the fundamental.
  const auto third = [](const Decoded& d, double f) {
    const std::vector<double> x = Window(d, 0.005, 0.045);
    return PowerAt(x, d.rate, 3 * f) / PowerAt(x, d.rate, f);
  };
  EXPECT_GT(third(paddle, fp), 2 * third(border, fb));
  // Blips: both have died away well before their end.
  EXPECT_LT(Peak(Window(paddle, 0.15, 0.25)), 0.05);
  EXPECT_LT(Peak(Window(border, 0.15, 0.25)), 0.05);
}

TEST(GameSounds, MissFallsAndKeepsSoundingToTheEnd) {
  const Decoded miss = Sound("SNDMISS");
  const double early = Dominant(miss, 0.01, 0.08);
  const double middle = Dominant(miss, 0.30, 0.37);
  const double late = Dominant(miss, 0.55, 0.62);
  EXPECT_GT(early, 1.5 * middle);
  EXPECT_GT(middle, 1.5 * late);
  EXPECT_GT(Peak(Window(miss, 0.55, 0.62)), 0.2);
}

TEST(GameSounds, CreditChimeRisesToASecondNote) {
  const Decoded credit = Sound("SNDCREDIT");
  const double first = Dominant(credit, 0.005, 0.065);
  const double second = Dominant(credit, 0.12, 0.30);
  EXPECT_GT(first, 700);
  EXPECT_GT(second, first * 1.2);
  EXPECT_GT(Peak(Window(credit, 0.25, 0.30)), 0.05);  // the second note rings on
}

TEST(GameSounds, BonusJinglePlaysThroughoutAndRises) {
  const Decoded bonus = Sound("SNDBONUS");
  // A note on every eighth of the run, and the final chord still ringing half a second on.
  for (double t = 0; t < 2.3; t += 0.18) {
    SCOPED_TRACE(t);
    EXPECT_GT(Peak(Window(bonus, t + 0.01, t + 0.15)), 0.2);
  }
  EXPECT_GT(Peak(Window(bonus, 2.9, 3.0)), 0.05);
  // Each chord's run climbs: the last note of the first run is above its first.
  EXPECT_GT(Dominant(bonus, 0.55, 0.68), 1.5 * Dominant(bonus, 0.01, 0.12));
}

}  // namespace
}  // namespace qr
