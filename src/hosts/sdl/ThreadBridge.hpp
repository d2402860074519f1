#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "hosts/sdl/Screenshot.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/shared/InputQueue.hpp"
#include "machine/Host.hpp"
#include "machine/Surface.hpp"

namespace qr {

// What the game thread asks of the window, which only the window thread may do.
struct WindowRequest {
  enum class Kind : std::uint8_t { Show, Caption, MovePointer };
  Kind kind = Kind::Show;
  std::string caption;  // Caption
  std::int32_t x = 0;   // MovePointer, on the desktop
  std::int32_t y = 0;
};

// The hand-over between the game thread and the window thread: the newest frame (with the input
// it answers), the input, the game's requests of the window, the pause, and the game's end. Everything in
// here is behind one mutex (the text entry's flag is atomic); each side calls only the functions made for it, and has
// its own state elsewhere. wakeWindow ends the window thread's wait for events (from any thread).
class ThreadBridge {
 public:
  using Stamp = InputQueue::Stamp;
  using Clock = std::chrono::steady_clock;

  explicit ThreadBridge(std::function<void()> wakeWindow) : wakeWindow_(std::move(wakeWindow)) {}
  ThreadBridge(const ThreadBridge&) = delete;
  ThreadBridge& operator=(const ThreadBridge&) = delete;

  // ---- The game thread.

  // The newest picture replaces the one not yet shown. The input taken before it was drawn is
  // answered by it; such a frame wakes the window thread to show it at once.
  void PostFrame(const Surface& surface);
  // The input that came since the last call, in order. While the window is paused this waits
  // until it goes on: the game's sleep ends only then.
  void TakeInput(std::vector<InputEvent>& events);
  // How long the window has been paused in all, up to now (the loops' statistics leave it out).
  std::int64_t PausedMs();
  // Sleeps until `until`, or until stamped input waits (a key, a pad: not a repeat).
  void WaitForInput(Clock::time_point until);
  // Hands the request to the window thread and returns once it has been carried out.
  void Request(WindowRequest request);
  // The game has ended: the window thread closes the window.
  void GameEnded();
  // The game takes typed characters (its initials entry) or no longer does.
  void SetTextEntry(bool on) { textEntry_.store(on, std::memory_order_relaxed); }

  // ---- Any thread.

  // Hands a notice to the window thread, without waiting.
  void PostNotice(WindowNotice notice);

  // ---- The window thread.

  // The notices waiting, in order.
  std::vector<WindowNotice> TakeNotices();

  // Moves what pending holds to the game; stamped input ends the game's sleep.
  void PostInput(InputQueue& pending);
  // Carries out the game's requests with run, in order; true once the game has ended.
  bool RunRequests(const std::function<void(const WindowRequest&)>& run);
  // The window's turn to show a frame: false when its turn has not come (due false) and no new
  // frame answers input. Otherwise a new frame, if there is one, is swapped into `into`, fresh
  // says so, and the stamps of the input it answers are appended to answered.
  bool TakeFrame(bool due, Frame& into, bool& fresh, std::vector<Stamp>& answered);
  // Whether the game takes typed characters now (the pads type the initials then).
  bool TextEntry() const { return textEntry_.load(std::memory_order_relaxed); }
  // The game is paused (FocusPause): it takes no input, and so does not go on, until it is not.
  void SetPaused(bool paused);

 private:
  const std::function<void()> wakeWindow_;
  std::mutex mutex_;
  std::condition_variable inputArrived_;  // the game's sleep ends early
  std::condition_variable requestDone_;
  std::condition_variable resumed_;  // the pause is over
  InputQueue input_;
  Frame frame_;
  bool frameNew_ = false;
  std::vector<Stamp> frameStamps_;  // when the input that frame_ answers happened
  std::deque<WindowRequest> requests_;
  std::vector<WindowNotice> notices_;
  std::uint64_t requestsPosted_ = 0;
  std::uint64_t requestsDone_ = 0;
  bool gameDone_ = false;
  bool paused_ = false;
  Clock::time_point pausedSince_;
  Clock::duration pausedBefore_{};      // the pauses that are over
  std::atomic<bool> textEntry_{false};  // written by the game thread, read by the window thread
};

}  // namespace qr
