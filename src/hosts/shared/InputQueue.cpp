#include "hosts/shared/InputQueue.hpp"

namespace qr {

bool InputQueue::Push(const InputEvent& e, Stamp stamp) {
  events_.push_back(e);
  if (stamp < 0) return false;
  stamps_.push_back(stamp);
  return true;
}

bool InputQueue::PushAll(std::vector<InputEvent>& events, Stamp stamp) {
  bool stamped = false;
  for (const InputEvent& e : events) stamped = Push(e, stamp) || stamped;
  events.clear();
  return stamped;
}

void InputQueue::Append(InputQueue& other) {
  events_.insert(events_.end(), other.events_.begin(), other.events_.end());
  stamps_.insert(stamps_.end(), other.stamps_.begin(), other.stamps_.end());
  other.events_.clear();
  other.stamps_.clear();
}

void InputQueue::Take(std::vector<InputEvent>& out) {
  out.insert(out.end(), events_.begin(), events_.end());
  events_.clear();
  taken_.insert(taken_.end(), stamps_.begin(), stamps_.end());
  stamps_.clear();
}

void InputQueue::TakeAnswered(std::vector<Stamp>& out) {
  out.insert(out.end(), taken_.begin(), taken_.end());
  taken_.clear();
}

void InputQueue::DropWaiting() {
  events_.clear();
  stamps_.clear();
}

void InputQueue::Clear() {
  DropWaiting();
  taken_.clear();
}

bool KeyInput::KeyDown(int vk, bool repeat, Stamp stamp) {
  held_.Press(vk, HeldKeys::kKeyboard, scratch_);
  return to_.PushAll(scratch_, repeat ? InputQueue::kNoStamp : stamp);
}

bool KeyInput::KeyUp(int vk, Stamp stamp) {
  held_.Release(vk, HeldKeys::kKeyboard, scratch_);
  return to_.PushAll(scratch_, stamp);
}

void KeyInput::ReleaseAll() {
  held_.ReleaseAll(0xFF, scratch_);
  to_.PushAll(scratch_, InputQueue::kNoStamp);
}

bool KeyInput::EndOnce(InputEvent::Kind kind) {
  ReleaseAll();
  if (ended_) return false;
  ended_ = true;
  to_.Push(InputEvent{kind, 0}, InputQueue::kNoStamp);
  return true;
}

void KeyInput::Restart() {
  held_.ReleaseAll(0xFF, scratch_);
  scratch_.clear();
  ended_ = false;
}

}  // namespace qr
