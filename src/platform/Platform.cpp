#include "platform/Platform.hpp"

namespace qr {

// The window font: bold, 10 points, at 96 dpi, so that a text row is 16 units high.
Platform::Platform()
    : font_(std::make_unique<Font>(10, 96)),
      surface_(std::make_unique<Surface>(*font_)),
      timers_{Timer(*this), Timer(*this), Timer(*this)} {
  surface_->SetBackground(ComposeBackground());
  surface_->Cls();
}

Platform::~Platform() = default;

void Platform::DeliverEvents(const std::deque<std::int16_t>& events) {
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

void Platform::FireDueTimers() {
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
