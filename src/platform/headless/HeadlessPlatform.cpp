#include "platform/headless/HeadlessPlatform.hpp"

#include <utility>

namespace qr {

HeadlessPlatform::HeadlessPlatform(HeadlessOptions options) : options_(std::move(options)) {}

void HeadlessPlatform::AddEvent(const ScriptEvent& event) { options_.script.push_back(event); }

void HeadlessPlatform::ApplyScript() {
  while (nextEvent_ < options_.script.size() && options_.script[nextEvent_].ms <= now_) {
    const ScriptEvent& ev = options_.script[nextEvent_++];
    switch (ev.action) {
      case ScriptEvent::Action::Down:
        keys_.Press(ev.vk);
        pending_.push_back(static_cast<std::int16_t>(ev.vk));
        break;
      case ScriptEvent::Action::Up:
        keys_.Release(ev.vk);
        break;
      case ScriptEvent::Action::Tap:
        keys_.Tap(ev.vk);
        pending_.push_back(static_cast<std::int16_t>(ev.vk));
        break;
      case ScriptEvent::Action::FocusLost:
      case ScriptEvent::Action::Close:  // closing the window acts as losing the focus
        pending_.push_back(kFocusLost);
        break;
    }
  }
}

void HeadlessPlatform::DoEvents() {
  ApplyScript();
  std::deque<std::int16_t> events;
  events.swap(pending_);
  DeliverEvents(events);
}

std::int16_t HeadlessPlatform::GetAsyncKeyState(int vk) {
  ApplyScript();
  return keys_.Query(vk);
}

void HeadlessPlatform::Sleep(std::int32_t ms) {
  if (ms > 0) now_ += ms;
  if (hook_) hook_();
  if (now_ >= options_.runMs) throw RunEnded{};
}

void HeadlessPlatform::MovePointer(std::int32_t x, std::int32_t y) {
  pointerX_ = x;
  pointerY_ = y;
}

std::string HeadlessPlatform::DataDirectory() {
  if (options_.dataDir.empty()) return {};
  std::string dir = options_.dataDir;
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace qr
