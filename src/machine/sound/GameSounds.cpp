#include "machine/sound/GameSounds.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "machine/sound/Wave.hpp"

namespace qr {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// One note: a band-limited tone with its own envelope. The envelope rises from zero over the
// attack (a raised cosine), stays at full level for the hold, decays towards the sustain level
// and falls back to zero over the release, which ends on the note's last sample.
struct Tone {
  double start = 0;    // s from the beginning of the sound
  double length = 0;   // s, release included
  double freq = 0;     // Hz
  double freqEnd = 0;  // Hz at the end of an exponential glide; 0: no glide
  double vibratoHz = 0;
  double vibratoDepth = 0;             // fraction of the frequency
  std::vector<double> harmonics{1.0};  // amplitude of the fundamental, the 2nd, 3rd, ... harmonic
  double amp = 1.0;
  double attack = 0.003;
  double hold = 0;
  double decay = 0;  // s, time constant; 0: no decay
  double sustain = 0;
  double release = 0.01;
};

double MidiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

double RaisedCosine(double x) { return 0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(x, 0.0, 1.0)); }

// Samples in -1..1 at a fixed rate, mixed from tones.
class Canvas {
 public:
  Canvas(std::uint32_t rate, std::uint32_t lengthMs) : rate_(rate), samples_(SampleCount(rate, lengthMs), 0.0) {}

  double Seconds() const { return static_cast<double>(samples_.size()) / rate_; }

  void Add(const Tone& tone) {
    const auto first = static_cast<std::size_t>(std::lround(tone.start * rate_));
    const auto count = static_cast<std::size_t>(std::lround(tone.length * rate_));
    const double last = static_cast<double>(count) - 1.0;
    // Harmonics fade out between 40 % and 45 % of the rate, so none folds back below Nyquist
    // and a gliding tone gains or loses its overtones smoothly.
    const double fullBand = 0.40 * rate_;
    const double edgeBand = 0.05 * rate_;
    double phase = 0;
    for (std::size_t k = 0; k < count && first + k < samples_.size(); ++k) {
      const double t = static_cast<double>(k) / rate_;
      double f = tone.freq;
      if (tone.freqEnd > 0) f *= std::pow(tone.freqEnd / tone.freq, static_cast<double>(k) / std::max(last, 1.0));
      if (tone.vibratoHz > 0) f *= 1.0 + tone.vibratoDepth * std::sin(kTwoPi * tone.vibratoHz * t);

      double wave = 0;
      for (std::size_t h = 0; h < tone.harmonics.size(); ++h) {
        const double hf = f * static_cast<double>(h + 1);
        const double weight = std::clamp((fullBand + edgeBand - hf) / edgeBand, 0.0, 1.0);
        wave += tone.harmonics[h] * weight * std::sin(phase * static_cast<double>(h + 1));
      }
      phase = std::fmod(phase + kTwoPi * f / rate_, kTwoPi);

      double level = 1.0;
      if (tone.attack > 0) level *= RaisedCosine(t / tone.attack);
      const double decaying = t - tone.attack - tone.hold;
      if (tone.decay > 0 && decaying > 0) {
        level *= tone.sustain + (1.0 - tone.sustain) * std::exp(-decaying / tone.decay);
      }
      const double remaining = (last - static_cast<double>(k)) / rate_;
      if (tone.release > 0) level *= RaisedCosine(remaining / tone.release);
      samples_[first + k] += tone.amp * level * wave;
    }
  }

  // Scales the mix to the given peak and makes sure that the very first and last samples are
  // silence, with short fades at both ends.
  std::vector<double> Finish(double peak) {
    double top = 0;
    for (double x : samples_) top = std::max(top, std::abs(x));
    const double scale = top > 0 ? peak / top : 0.0;
    const double fadeIn = 0.001 * rate_;
    const double fadeOut = 0.005 * rate_;
    const double last = static_cast<double>(samples_.size()) - 1.0;
    for (std::size_t k = 0; k < samples_.size(); ++k) {
      const double i = static_cast<double>(k);
      samples_[k] *= scale * RaisedCosine(i / fadeIn) * RaisedCosine((last - i) / fadeOut);
    }
    return samples_;
  }

 private:
  std::uint32_t rate_;
  std::vector<double> samples_;
};

// The ball off a paddle: a bright square-ish B5 blip.
std::vector<double> Paddle(std::uint32_t rate, std::uint32_t ms) {
  Canvas c(rate, ms);
  Tone t;
  t.length = c.Seconds();
  t.freq = MidiHz(83);
  t.harmonics = {1.0, 0.0, 0.30, 0.0, 0.16, 0.0, 0.09};
  t.attack = 0.002;
  t.hold = 0.025;
  t.decay = 0.028;
  t.release = 0.020;
  c.Add(t);
  return c.Finish(0.90);
}

// The ball off a border: the same kind of blip an octave lower, rounder and a little shorter.
std::vector<double> Border(std::uint32_t rate, std::uint32_t ms) {
  Canvas c(rate, ms);
  Tone t;
  t.length = c.Seconds();
  t.freq = MidiHz(71);
  t.harmonics = {1.0, 0.0, 0.12};
  t.attack = 0.002;
  t.hold = 0.020;
  t.decay = 0.025;
  t.release = 0.020;
  c.Add(t);
  return c.Finish(0.80);
}

// A missed ball: a square tone with a slight warble that falls three octaves.
std::vector<double> Miss(std::uint32_t rate, std::uint32_t ms) {
  Canvas c(rate, ms);
  Tone t;
  t.length = c.Seconds();
  t.freq = MidiHz(78);
  t.freqEnd = MidiHz(42);
  t.vibratoHz = 7.0;
  t.vibratoDepth = 0.02;
  t.harmonics = {1.0, 0.0, 0.33, 0.0, 0.20, 0.0, 0.14, 0.0, 0.11};
  t.attack = 0.004;
  t.hold = 0.35;
  t.decay = 0.25;
  t.release = 0.08;
  c.Add(t);
  return c.Finish(0.85);
}

// A coin: two bell-like notes, B5 and then E6 ringing out.
std::vector<double> Credit(std::uint32_t rate, std::uint32_t ms) {
  Canvas c(rate, ms);
  Tone first;
  first.length = 0.090;
  first.freq = MidiHz(83);
  first.harmonics = {1.0, 0.35, 0.15};
  first.attack = 0.002;
  first.hold = 0.010;
  first.decay = 0.080;
  first.release = 0.012;
  c.Add(first);
  Tone second = first;
  second.start = 0.075;
  second.length = c.Seconds() - second.start;
  second.freq = MidiHz(88);
  second.harmonics = {1.0, 0.35, 0.12};
  second.hold = 0.020;
  second.decay = 0.120;
  second.release = 0.040;
  c.Add(second);
  return c.Finish(0.90);
}

// The bonus: a bright lead running up the chords C, F and G in eighths over a bouncing bass,
// then a rolled C major chord that rings out to the end.
std::vector<double> Bonus(std::uint32_t rate, std::uint32_t ms) {
  Canvas c(rate, ms);
  const double eighth = 0.18;

  Tone lead;
  lead.length = 0.17;
  lead.harmonics = {1.0, 0.5, 0.33, 0.25, 0.2, 0.16};
  lead.amp = 0.5;
  lead.attack = 0.004;
  lead.hold = 0.020;
  lead.decay = 0.080;
  lead.sustain = 0.5;
  lead.release = 0.030;
  const int leadNotes[] = {72, 76, 79, 84, 77, 81, 84, 89, 79, 83, 86, 91, 84};
  for (int i = 0; i < 13; ++i) {
    lead.start = i * eighth;
    lead.freq = MidiHz(leadNotes[i]);
    c.Add(lead);
  }

  Tone bass;
  bass.length = 2 * eighth - 0.02;
  bass.harmonics = {1.0, 0.0, 1.0 / 9, 0.0, 1.0 / 25};  // a soft, triangle-like tone
  bass.amp = 0.45;
  bass.attack = 0.005;
  bass.hold = 0.030;
  bass.decay = 0.200;
  bass.sustain = 0.4;
  bass.release = 0.040;
  const int bassNotes[] = {48, 55, 53, 60, 55, 62};
  for (int i = 0; i < 6; ++i) {
    bass.start = i * 2 * eighth;
    bass.freq = MidiHz(bassNotes[i]);
    c.Add(bass);
  }
  bass.start = 12 * eighth;
  bass.length = c.Seconds() - bass.start;
  bass.freq = MidiHz(48);
  bass.decay = 0.500;
  bass.release = 0.300;
  c.Add(bass);

  Tone chord;
  chord.harmonics = {1.0, 0.3, 0.1};
  chord.amp = 0.3;
  chord.attack = 0.005;
  chord.hold = 0.050;
  chord.decay = 0.350;
  chord.release = 0.200;
  const int chordNotes[] = {84, 88, 91, 96};
  for (int i = 0; i < 4; ++i) {
    chord.start = 13 * eighth + 0.03 * i;
    chord.length = c.Seconds() - chord.start;
    chord.freq = MidiHz(chordNotes[i]);
    c.Add(chord);
  }
  return c.Finish(0.80);
}

GameSound Make(const std::string& name, std::uint32_t rate, std::uint16_t bits, std::uint32_t lengthMs,
               std::vector<double> (*compose)(std::uint32_t, std::uint32_t)) {
  const std::vector<double> samples = compose(rate, lengthMs);
  GameSound s;
  s.name = name;
  s.rate = rate;
  s.bits = bits;
  s.lengthMs = lengthMs;
  s.wave = RiffWave(rate, bits, bits == 8 ? Pcm8(samples) : Pcm16(samples));
  return s;
}

}  // namespace

const std::vector<GameSound>& GameSounds() {
  static const std::vector<GameSound> sounds = {
      Make("SNDBORDER", 16000, 8, 250, Border), Make("SNDPADDLE", 16000, 8, 250, Paddle),
      Make("SNDMISS", 22050, 8, 700, Miss),     Make("SNDBONUS", 22050, 16, 3240, Bonus),
      Make("SNDCREDIT", 10026, 8, 380, Credit),
  };
  return sounds;
}

const GameSound* FindGameSound(const std::string& name) {
  for (const GameSound& s : GameSounds()) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

}  // namespace qr
