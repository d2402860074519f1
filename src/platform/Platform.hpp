#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/Font.hpp"
#include "platform/Surface.hpp"
#include "platform/Timer.hpp"

namespace qr {

// What the window system delivers, only inside a hand-over.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void Form_KeyDown(std::int16_t keyCode, std::int16_t shift) = 0;
  virtual void Form_LostFocus() = 0;
  virtual void TimerEvent(TimerId id) = 0;
};

// The loops whose cadence --stats reports.
enum class LoopId : int { MainLoop = 0, DemoLoop = 1, StartPrompt = 2 };

// The only door from the game to the machine: the drawing surface, three timers, the hand-over
// to the window system, key polling, sleep, the pointer, the data directory and sound.
class Platform : public Clock {
 public:
  Platform();
  ~Platform() override;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  Surface& surface() { return *surface_; }
  const Surface& surface() const { return *surface_; }
  Timer& timer(TimerId id) { return timers_[static_cast<int>(id)]; }
  void SetEventSink(WindowEvents* sink) { sink_ = sink; }

  // Hands control to the window system once: pending window events, then due timers.
  virtual void DoEvents() = 0;
  // Copies the drawing surface to the screen.
  virtual void Refresh() = 0;
  // Shows the window.
  virtual void Show() = 0;
  virtual void SetCaption(const std::string& /*caption*/) {}
  // Non-zero when the key is down now (high bit) or was pressed since the previous query of
  // that key (low bit).
  virtual std::int16_t GetAsyncKeyState(int vk) = 0;
  virtual void Sleep(std::int32_t ms) = 0;
  virtual void MovePointer(std::int32_t x, std::int32_t y) = 0;
  // The directory of the high-score file with a trailing separator; empty when the game may not
  // use files.
  virtual std::string DataDirectory() = 0;
  // Plays the named sound, cutting any sound still playing; the empty name only stops it.
  virtual void PlaySound(const std::string& name) = 0;
  // The seed for the random generator (the clock's, unless one was given).
  virtual std::uint64_t RandomSeed() = 0;
  // Counts one pass of a loop, for the cadence statistics.
  virtual void CountPass(LoopId) {}

 protected:
  // A queued window event: a virtual-key code for a key-down, or kFocusLost.
  static constexpr std::int16_t kFocusLost = -1;

  WindowEvents* sink() { return sink_; }
  // The end of every hand-over: the queued window events in order (input first, as the window
  // system orders its messages), then the events of every timer due now, earliest first, each
  // at most once.
  void DeliverEvents(const std::deque<std::int16_t>& events);
  void FireDueTimers();

 private:
  std::unique_ptr<Font> font_;
  std::unique_ptr<Surface> surface_;
  std::array<Timer, 3> timers_;
  WindowEvents* sink_ = nullptr;
};

}  // namespace qr
