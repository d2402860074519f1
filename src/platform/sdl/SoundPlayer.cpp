#include "platform/sdl/SoundPlayer.hpp"

#include <SDL.h>

#include <algorithm>
#include <vector>

#include "platform/sound/GameSounds.hpp"

#if defined(__linux__)
#include <dlfcn.h>
#endif

namespace qr {

namespace {

#if defined(__linux__)
// ALSA's library prints its complaints straight to stderr when SDL probes it on a machine
// without a sound card. Its error handler is replaced by one that says nothing while the
// player is alive; the library is reached the way SDL reaches it, at run time.
extern "C" void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

class QuietAlsa {
 public:
  QuietAlsa() {
    library_ = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) return;
    setHandler_ = reinterpret_cast<SetHandler>(dlsym(library_, "snd_lib_error_set_handler"));
    if (setHandler_ != nullptr) setHandler_(&IgnoreAlsaError);
  }
  ~QuietAlsa() {
    if (setHandler_ != nullptr) setHandler_(nullptr);
    if (library_ != nullptr) dlclose(library_);
  }
  QuietAlsa(const QuietAlsa&) = delete;
  QuietAlsa& operator=(const QuietAlsa&) = delete;

 private:
  using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetHandler = int (*)(Handler);
  void* library_ = nullptr;
  SetHandler setHandler_ = nullptr;
};
#else
struct QuietAlsa {};
#endif

// One of the game's sounds, converted once to the device's rate as 32-bit float mono.
struct Clip {
  std::string name;
  std::vector<float> samples;
};

// Reads a RIFF/WAVE sound with SDL's own reader and resamples it for the device.
bool LoadClip(const GameSound& sound, int deviceRate, Clip& clip) {
  SDL_AudioSpec wav;
  Uint8* buffer = nullptr;
  Uint32 length = 0;
  SDL_RWops* rw = SDL_RWFromConstMem(sound.wave.data(), static_cast<int>(sound.wave.size()));
  if (rw == nullptr || SDL_LoadWAV_RW(rw, 1, &wav, &buffer, &length) == nullptr) return false;
  SDL_AudioStream* stream = SDL_NewAudioStream(wav.format, wav.channels, wav.freq, AUDIO_F32SYS, 1, deviceRate);
  bool ok = stream != nullptr && SDL_AudioStreamPut(stream, buffer, static_cast<int>(length)) == 0 &&
            SDL_AudioStreamFlush(stream) == 0;
  SDL_FreeWAV(buffer);
  if (ok) {
    const int available = SDL_AudioStreamAvailable(stream);
    clip.name = sound.name;
    clip.samples.resize(static_cast<std::size_t>(available) / sizeof(float));
    ok = SDL_AudioStreamGet(stream, clip.samples.data(), available) == available;
  }
  if (stream != nullptr) SDL_FreeAudioStream(stream);
  return ok;
}

}  // namespace

struct SoundPlayer::Impl {
  std::unique_ptr<QuietAlsa> quietAlsa;
  bool audioStarted = false;
  SDL_AudioDeviceID device = 0;
  std::vector<Clip> clips;
  int fadeLength = 1;  // samples over which a cut sound fades out, so that cutting it does not click

  // Shared with the audio thread, under the device lock.
  const Clip* current = nullptr;
  std::size_t position = 0;
  const Clip* fading = nullptr;
  std::size_t fadePosition = 0;
  int fadeLeft = 0;

  static void SDLCALL Fill(void* user, Uint8* stream, int bytes) {
    static_cast<Impl*>(user)->Mix(reinterpret_cast<float*>(stream), static_cast<std::size_t>(bytes) / sizeof(float));
  }

  void Mix(float* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      float v = 0.0f;
      if (current != nullptr) {
        v += current->samples[position++];
        if (position >= current->samples.size()) current = nullptr;
      }
      if (fadeLeft > 0) {
        v += fading->samples[fadePosition++] * static_cast<float>(fadeLeft) / static_cast<float>(fadeLength);
        --fadeLeft;
        if (fadePosition >= fading->samples.size()) fadeLeft = 0;
      }
      out[i] = std::clamp(v, -1.0f, 1.0f);
    }
  }

  const Clip* Find(const std::string& name) const {
    for (const Clip& c : clips) {
      if (c.name == name && !c.samples.empty()) return &c;
    }
    return nullptr;
  }

  void Close() {
    if (device != 0) SDL_CloseAudioDevice(device);
    device = 0;
    if (audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audioStarted = false;
    quietAlsa.reset();
  }
};

SoundPlayer::SoundPlayer(bool mute) : impl_(std::make_unique<Impl>()) {
  if (mute) return;
  Impl& s = *impl_;
  s.quietAlsa = std::make_unique<QuietAlsa>();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return;
  s.audioStarted = true;

  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = 44100;
  want.format = AUDIO_F32SYS;
  want.channels = 1;
  want.samples = 512;  // about 12 ms: a hit sounds with the hit
  want.callback = &Impl::Fill;
  want.userdata = &s;
  SDL_AudioSpec have;
  s.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (s.device == 0) {
    s.Close();
    return;
  }
  s.fadeLength = std::max(1, have.freq / 200);  // 5 ms
  for (const GameSound& sound : GameSounds()) {
    Clip clip;
    if (LoadClip(sound, have.freq, clip)) s.clips.push_back(std::move(clip));
  }
  SDL_PauseAudioDevice(s.device, 0);
}

SoundPlayer::~SoundPlayer() { impl_->Close(); }

void SoundPlayer::Play(const std::string& name) {
  Impl& s = *impl_;
  if (s.device == 0) return;
  const Clip* next = s.Find(name);  // the empty name, or an unknown one, only stops
  SDL_LockAudioDevice(s.device);
  if (s.current != nullptr) {
    s.fading = s.current;
    s.fadePosition = s.position;
    s.fadeLeft = s.fadeLength;
  }
  s.current = next;
  s.position = 0;
  SDL_UnlockAudioDevice(s.device);
}

bool SoundPlayer::HasDevice() const { return impl_->device != 0; }

std::string SoundPlayer::Playing() const {
  const Impl& s = *impl_;
  if (s.device == 0) return {};
  SDL_LockAudioDevice(s.device);
  std::string name = s.current != nullptr ? s.current->name : std::string();
  SDL_UnlockAudioDevice(s.device);
  return name;
}

}  // namespace qr
