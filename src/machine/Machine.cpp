#include "machine/Machine.hpp"

namespace qr {

// The window font: bold, 10 points, at 96 dpi, so that a text row is 16 units high.
Machine::Machine(Host& host)
    : host_(host),
      font_(std::make_unique<Font>(10, 96)),
      surface_(std::make_unique<Surface>(*font_)),
      timers_{Timer(*this), Timer(*this), Timer(*this)} {
  surface_->SetBackground(ComposeBackground());
  surface_->Cls();
  TakeInput();  // what is there from the start
}

Machine::~Machine() = default;

void Machine::DoEvents() {
  host_.ShowFrame(*surface_);
  // The queue is taken whole: an event handler never sees events that came after it.
  std::deque<std::int16_t> events;
  events.swap(pending_);
  for (const std::int16_t code : events) {
    if (sink_ == nullptr) continue;
    if (code == kFocusLost) {
      sink_->Form_LostFocus();
    } else {
      sink_->Form_KeyDown(code, 0);
    }
  }
  FireDueTimers();
}

void Machine::Refresh() { host_.ShowFrame(*surface_); }

void Machine::Show() {
  host_.ShowFrame(*surface_);
  host_.ShowWindow();
}

void Machine::Sleep(std::int32_t ms) {
  if (ms > 0) now_ += ms;
  host_.Pace(now_);
  TakeInput();
}

void Machine::PlaySound(const std::string& name) {
  sounds_.push_back(name);
  host_.PlaySound(name);
}

void Machine::CountPass(LoopId id) {
  ++passes_[static_cast<int>(id)];
  host_.CountPass(id);
}

void Machine::TakeInput() {
  input_.clear();
  host_.TakeInput(input_);
  for (const InputEvent& e : input_) Apply(e);
}

void Machine::Apply(const InputEvent& e) {
  switch (e.kind) {
    case InputEvent::Kind::Down:  // auto-repeat comes as further key-downs, as on Windows
      keys_.Press(e.vk);
      pending_.push_back(static_cast<std::int16_t>(e.vk));
      break;
    case InputEvent::Kind::Up:
      keys_.Release(e.vk);
      break;
    case InputEvent::Kind::Tap:
      keys_.Tap(e.vk);
      pending_.push_back(static_cast<std::int16_t>(e.vk));
      break;
    case InputEvent::Kind::FocusLost:
    case InputEvent::Kind::Close:  // closing the window acts as losing the focus
      pending_.push_back(kFocusLost);
      break;
  }
}

// Every timer due now, earliest first, each at most once per hand-over.
void Machine::FireDueTimers() {
  const std::int64_t now = NowMs();
  bool fired[3] = {false, false, false};
  for (;;) {
    int next = -1;
    for (int i = 0; i < 3; ++i) {
      if (fired[i] || !timers_[i].Due(now)) continue;
      if (next < 0 || timers_[i].DueAt() < timers_[next].DueAt()) next = i;
    }
    if (next < 0) return;
    fired[next] = true;
    timers_[next].Fired(now);
    if (sink_ != nullptr) sink_->TimerEvent(static_cast<TimerId>(next));
  }
}

}  // namespace qr
