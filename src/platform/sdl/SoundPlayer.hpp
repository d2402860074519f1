#pragma once
#include <memory>
#include <string>

namespace qr {

// The window's sound: one voice, as a single-sound player has. A new request cuts the sound
// that is playing; the empty name only stops it. Without an audio device, or muted, every
// request does nothing, silently.
class SoundPlayer {
 public:
  explicit SoundPlayer(bool mute);
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // Never blocks the caller. Safe to call from any thread.
  void Play(const std::string& name);

  // Whether an audio device is open (false when muted or when there is none).
  bool HasDevice() const;
  // The name of the sound that is sounding now; empty when all is quiet.
  std::string Playing() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qr
