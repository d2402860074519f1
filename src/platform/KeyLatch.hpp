#pragma once
#include <array>
#include <atomic>
#include <cstdint>

namespace qr {

// Key state per virtual-key code: down now, and pressed since the previous query of that key.
// Shared between the thread that reads the window system and the thread that polls.
class KeyLatch {
 public:
  void Press(int vk) {
    if (!Valid(vk)) return;
    down_[vk].store(true, std::memory_order_relaxed);
    pressed_[vk].store(true, std::memory_order_release);
  }
  void Release(int vk) {
    if (Valid(vk)) down_[vk].store(false, std::memory_order_relaxed);
  }
  // A tap: pressed and released at the same instant; it counts once at the next query.
  void Tap(int vk) {
    if (!Valid(vk)) return;
    down_[vk].store(false, std::memory_order_relaxed);
    pressed_[vk].store(true, std::memory_order_release);
  }
  void ReleaseAll() {
    for (auto& d : down_) d.store(false, std::memory_order_relaxed);
  }
  bool Down(int vk) const { return Valid(vk) && down_[vk].load(std::memory_order_relaxed); }

  // The state word of GetAsyncKeyState: 0x8000 when down, 1 when pressed since the last query.
  std::int16_t Query(int vk) {
    if (!Valid(vk)) return 0;
    const bool pressed = pressed_[vk].exchange(false, std::memory_order_acq_rel);
    const bool down = down_[vk].load(std::memory_order_relaxed);
    return static_cast<std::int16_t>((down ? 0x8000 : 0) | (pressed ? 1 : 0));
  }

 private:
  static bool Valid(int vk) { return vk > 0 && vk < 256; }
  std::array<std::atomic<bool>, 256> down_{};
  std::array<std::atomic<bool>, 256> pressed_{};
};

}  // namespace qr
