#pragma once
#include <cstdint>
#include <vector>

#include "hosts/shared/Gamepads.hpp"
#include "machine/Host.hpp"

namespace qr {

// The input that waits for the game, in the order it came, with the time each key's or pad's
// event happened; and, once the game has taken it, those times again until a frame answers them
// (the latency figures: from the event to the first picture the game drew after taking it).
//
// A stamp is on the host's own clock, in its own unit (microseconds in the window, milliseconds
// on the page). Events the host makes itself (a key's repeat, the keys let go on a focus loss)
// carry kNoStamp: they are not measured, and they do not end the game's sleep early.
//
// One thread only: the window hands input to the game thread through a guarded one
// (ThreadBridge), the page uses one directly.
class InputQueue {
 public:
  using Stamp = double;
  static constexpr Stamp kNoStamp = -1;

  // Both true when stamped input was added (the host wakes the game's sleep for it).
  bool Push(const InputEvent& e, Stamp stamp);
  // Pushes every event with the same stamp and empties events.
  bool PushAll(std::vector<InputEvent>& events, Stamp stamp);
  // Moves everything waiting in other to the end of this queue, keeping its stamps.
  void Append(InputQueue& other);

  // Stamped input waits: the game's sleep may end early.
  bool Waiting() const { return !stamps_.empty(); }
  bool Empty() const { return events_.empty(); }

  // Hands over every waiting event (appended to out); their stamps wait for a frame.
  void Take(std::vector<InputEvent>& out);
  // The stamps of the input taken since the last call, appended to out: the frame drawn now
  // answers them.
  void TakeAnswered(std::vector<Stamp>& out);

  // The input not yet taken is dropped; what was taken still waits for its frame.
  void DropWaiting();
  // Everything is dropped.
  void Clear();

 private:
  std::vector<InputEvent> events_;
  std::vector<Stamp> stamps_;  // when the stamped ones among events_ happened
  std::vector<Stamp> taken_;   // ... of the events the game took, not yet drawn
};

// The keyboard's and the pads' side of the input: which keys are held (and by whom), and the
// end of a run, which comes once however often the focus goes. Feeds an InputQueue on the same
// thread.
class KeyInput {
 public:
  using Stamp = InputQueue::Stamp;

  explicit KeyInput(InputQueue& to) : to_(to) {}
  KeyInput(const KeyInput&) = delete;
  KeyInput& operator=(const KeyInput&) = delete;

  // The keys that the keyboard and the pads hold (Gamepads presses and releases them).
  HeldKeys& Held() { return held_; }

  // A key of the keyboard; its auto-repeat comes as further key-downs, without a stamp. These
  // three return true when stamped input was queued.
  bool KeyDown(int vk, bool repeat, Stamp stamp);
  bool KeyUp(int vk, Stamp stamp);
  // What the pads made of their events (see Gamepads), emptied.
  bool Add(std::vector<InputEvent>& events, Stamp stamp) { return to_.PushAll(events, stamp); }

  // Every key held goes up: the keys are no longer heard.
  void ReleaseAll();
  // Every key held goes up, and the first time (after Restart) the event kind (a focus loss, a
  // close) follows: the game ends on one, and the others would only repeat it. True when queued.
  bool EndOnce(InputEvent::Kind kind);
  bool Ended() const { return ended_; }
  // A new run: nothing held (without events for it), nothing ended.
  void Restart();

 private:
  InputQueue& to_;
  HeldKeys held_;
  std::vector<InputEvent> scratch_;
  bool ended_ = false;
};

}  // namespace qr
