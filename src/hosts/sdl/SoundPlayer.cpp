#include "hosts/sdl/SoundPlayer.hpp"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "machine/sound/GameSounds.hpp"

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

constexpr int kAskedRate = 44100;

}  // namespace

struct SoundPlayer::Impl {
  using Clock = std::chrono::steady_clock;
  enum class State { Opening, Open, Absent };

  // The opener's: written before the device is published as open and only read afterwards
  // (closed by the destructor once the opener has ended).
  std::unique_ptr<QuietAlsa> quietAlsa;
  bool audioStarted = false;
  SDL_AudioDeviceID device = 0;
  std::vector<Clip> clips;
  int fadeLength = 1;  // samples over which a cut sound fades out, so that cutting it does not click
  std::thread opener;
  std::chrono::milliseconds freshFor{0};  // how old a request made while the device opened may be

  // Shared by the callers, the opener and the audio thread, under mutex.
  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // released, closing, or the device open or known absent
  State state = State::Absent;
  bool released = true;
  bool closing = false;
  bool requested = false;  // the newest request made while the device opened
  std::string requestedName;
  Clock::time_point requestedAt;
  const Clip* current = nullptr;
  std::size_t position = 0;
  const Clip* fading = nullptr;
  std::size_t fadePosition = 0;
  int fadeLeft = 0;

  static void SDLCALL Fill(void* user, Uint8* stream, int bytes) {
    static_cast<Impl*>(user)->Mix(reinterpret_cast<float*>(stream), static_cast<std::size_t>(bytes) / sizeof(float));
  }

  void Mix(float* out, std::size_t count) {
    std::lock_guard lock(mutex);
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

  // Under mutex, the device open: the sound playing fades out and next (nullptr: none) begins.
  void Start(const Clip* next) {
    if (current != nullptr) {
      fading = current;
      fadePosition = position;
      fadeLeft = fadeLength;
    }
    current = next;
    position = 0;
  }

  bool Closing() const {
    std::lock_guard lock(mutex);
    return closing;
  }

  void LoadClips(int rate) {
    clips.clear();
    for (const GameSound& sound : GameSounds()) {
      Clip clip;
      if (LoadClip(sound, rate, clip)) clips.push_back(std::move(clip));
    }
  }

  // The opener thread: waits to be released (kHeldAtMost at most), then opens the device. The
  // sounds are converted before the device is opened, so that a request made meanwhile does not
  // also wait for them once it is open.
  void Open() {
    bool gone = false;
    {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, kHeldAtMost, [this] { return released || closing; });
      gone = closing;
      if (gone) state = State::Absent;  // gone before it was needed: nothing to open
    }
    if (gone) {
      changed.notify_all();
      return;
    }
    quietAlsa = std::make_unique<QuietAlsa>();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
      audioStarted = true;
      LoadClips(kAskedRate);
      SDL_AudioSpec want;
      SDL_zero(want);
      want.freq = kAskedRate;
      want.format = AUDIO_F32SYS;
      want.channels = 1;
      want.samples = 512;  // about 12 ms: a hit sounds with the hit
      want.callback = &Impl::Fill;
      want.userdata = this;
      SDL_AudioSpec have;
      if (!Closing()) device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
      if (device != 0) {
        if (have.freq != kAskedRate) LoadClips(have.freq);
        fadeLength = std::max(1, have.freq / 200);  // 5 ms
      }
    }
    bool open = false;
    {
      std::lock_guard lock(mutex);
      open = device != 0 && !closing;
      state = open ? State::Open : State::Absent;
      if (open && requested && Clock::now() - requestedAt <= freshFor) Start(Find(requestedName));
      requested = false;
    }
    changed.notify_all();
    if (open) {
      SDL_PauseAudioDevice(device, 0);
    } else {
      Close();  // stopping SDL's audio may take a while (its device watcher has to notice)
    }
  }

  void Close() {
    if (device != 0) SDL_CloseAudioDevice(device);
    device = 0;
    if (audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audioStarted = false;
    quietAlsa.reset();
  }
};

SoundPlayer::SoundPlayer(bool mute, Start start, std::chrono::milliseconds freshFor) : impl_(std::make_unique<Impl>()) {
  if (mute) return;
  Impl& s = *impl_;
  s.freshFor = freshFor;
  s.state = Impl::State::Opening;
  s.released = start == Start::Now;
  try {
    s.opener = std::thread([&s] {
      s.Open();
      SDL_TLSCleanup();  // SDL keeps an error message for every thread that calls it
    });
  } catch (const std::system_error&) {
    s.released = true;
    s.Open();  // no thread to be had: opened here, as the caller waits
  }
}

SoundPlayer::~SoundPlayer() {
  Impl& s = *impl_;
  {
    std::lock_guard lock(s.mutex);
    s.closing = true;
  }
  s.changed.notify_all();
  if (s.opener.joinable()) s.opener.join();
  s.Close();
}

void SoundPlayer::Release() {
  Impl& s = *impl_;
  {
    std::lock_guard lock(s.mutex);
    s.released = true;
  }
  s.changed.notify_all();
}

void SoundPlayer::Play(const std::string& name) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  if (s.state == Impl::State::Opening) {
    s.requested = true;
    s.requestedName = name;
    s.requestedAt = Impl::Clock::now();
  } else if (s.state == Impl::State::Open) {
    s.Start(s.Find(name));  // the empty name, or an unknown one, only stops
  }
}

bool SoundPlayer::HasDevice() const {
  const Impl& s = *impl_;
  std::unique_lock lock(s.mutex);
  s.changed.wait(lock, [&] { return s.state != Impl::State::Opening; });
  return s.state == Impl::State::Open;
}

std::string SoundPlayer::Playing() const {
  const Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  return s.current != nullptr ? s.current->name : std::string();
}

}  // namespace qr
