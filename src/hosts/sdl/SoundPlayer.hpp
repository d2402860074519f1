#pragma once
#include <chrono>
#include <memory>
#include <string>

namespace qr {

// The window's sound: one voice, as a single-sound player has. A new request cuts the sound
// that is playing; the empty name only stops it. Without an audio device, or muted, every
// request does nothing, silently.
//
// The audio device is opened on a thread of its own (opening it can take a tenth of a second and
// more, and the window does not wait for it); the window holds the opening back until its first
// frame is out, so that the sounds' preparation does not compete with it either. A request made
// while the device opens sounds once it is open if it is still fresh (no older than freshFor);
// an older one is dropped, as a sound that came late would no longer go with what it was for.
class SoundPlayer {
 public:
  static constexpr std::chrono::milliseconds kFreshRequest{50};
  // A player held back begins to open its device by itself after this.
  static constexpr std::chrono::milliseconds kHeldAtMost{1000};
  enum class Start { Now, WhenReleased };

  explicit SoundPlayer(bool mute, Start start = Start::Now, std::chrono::milliseconds freshFor = kFreshRequest);
  // Waits for a device being opened to be open (or to have failed), then closes it. A player
  // still held back opens nothing.
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // A player made with Start::WhenReleased begins to open its device. Any thread.
  void Release();

  // Never blocks the caller. Safe to call from any thread.
  void Play(const std::string& name);

  // Whether an audio device is open (false when muted or when there is none). Waits for an
  // opening device to be open or to have failed.
  bool HasDevice() const;
  // The name of the sound that is sounding now; empty when all is quiet (or still opening).
  std::string Playing() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qr
