#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "machine/Font.hpp"
#include "machine/Host.hpp"
#include "machine/KeyLatch.hpp"
#include "machine/Surface.hpp"
#include "machine/Timer.hpp"

namespace qr {

// What the window system delivers, only inside a hand-over.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void Form_KeyDown(std::int16_t keyCode, std::int16_t shift) = 0;
  virtual void Form_LostFocus() = 0;
  virtual void TimerEvent(TimerId id) = 0;
};

// The game's machine, the same on every backend: the drawing surface and its font, the three
// timers, the keys the game polls, the events delivered at a hand-over, and the game clock,
// which is the sum of the sleeps the game asked for. What only the outside world can do (show
// a frame, input, pacing, sound, files) it asks of its host.
//
// Input becomes visible only at the end of a sleep: every poll of one pass sees the same keys,
// and a game is a pure function of its seed and of its input stamped with game time.
class Machine : public Clock {
 public:
  explicit Machine(Host& host);
  ~Machine() override;
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Host& host() { return host_; }
  Surface& surface() { return *surface_; }
  const Surface& surface() const { return *surface_; }
  Timer& timer(TimerId id) { return timers_[static_cast<int>(id)]; }
  void SetEventSink(WindowEvents* sink) { sink_ = sink; }

  // The game clock in milliseconds.
  std::int64_t NowMs() const override { return now_; }
  // Hands control to the window system once: the picture goes out, then the window events
  // that arrived (in order), then the events of the timers due now.
  void DoEvents();
  // Shows the drawing surface now.
  void Refresh();
  // Shows the window.
  void Show();
  void SetCaption(const std::string& caption) { host_.SetCaption(caption); }
  // Non-zero when the key is down (high bit) or was pressed since the previous query of that
  // key (low bit).
  std::int16_t GetAsyncKeyState(int vk) { return keys_.Query(vk); }
  // Moves the game clock on by ms, waits for the host to pace it, then takes the input.
  void Sleep(std::int32_t ms);
  void MovePointer(std::int32_t x, std::int32_t y) { host_.MovePointer(x, y); }
  void PlaySound(const std::string& name);
  std::uint64_t RandomSeed() { return host_.RandomSeed(); }
  void CountPass(LoopId id);

  // The game's files, through the host.
  LoadedFile LoadFile(const std::string& name, std::size_t limit) { return host_.LoadFile(name, limit); }
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
    return host_.SaveFile(name, bytes, error);
  }
  void RemoveFile(const std::string& name) { host_.RemoveFile(name); }
  std::string FilesLocation() { return host_.FilesLocation(); }
  bool LockFiles(std::string& error) { return host_.LockFiles(error); }
  void UnlockFiles() { host_.UnlockFiles(); }
  std::string Recording(std::int64_t gameStartMs = -1) { return host_.Recording(gameStartMs); }
  void TextEntry(bool on) { host_.TextEntry(on); }
  // A sentence for the player (see Host::Tell).
  void Tell(const std::string& message) { host_.Tell(message); }

  // Takes the input that has arrived by now (the end of every sleep does).
  void TakeInput();

  // The sounds requested, in order, and the passes of each loop (for the state and the tests).
  const std::vector<std::string>& Sounds() const { return sounds_; }
  void ClearSounds() { sounds_.clear(); }
  std::int64_t Passes(LoopId id) const { return passes_[static_cast<int>(id)]; }

 private:
  // A queued window event: a virtual-key code for a key-down, or kFocusLost.
  static constexpr std::int16_t kFocusLost = -1;

  void Apply(const InputEvent& event);
  void FireDueTimers();

  Host& host_;
  std::unique_ptr<Font> font_;
  std::unique_ptr<Surface> surface_;
  std::array<Timer, 3> timers_;
  WindowEvents* sink_ = nullptr;
  std::int64_t now_ = 0;
  KeyLatch keys_;
  std::deque<std::int16_t> pending_;
  std::vector<InputEvent> input_;  // reused by every TakeInput
  std::vector<std::string> sounds_;
  std::array<std::int64_t, 4> passes_{};
};

}  // namespace qr
