#pragma once
#include <array>
#include <atomic>
#include <cstdint>

namespace qr {

// Key state per virtual-key code: down now, and pressed since the previous query of that key.
// Shared between the thread that reads the window system and the thread that polls: both bits
// of a key live in one atomic byte, so a query sees them as one moment.
class KeyLatch {
 public:
  // A key going down. A key-down while the key is already down (the keyboard's repeat) is no
  // new press: only a key that was up sets the pressed bit.
  void Press(int vk) {
    if (!Valid(vk)) return;
    std::uint8_t old = state_[vk].load(std::memory_order_relaxed);
    std::uint8_t now = 0;
    do {
      now = static_cast<std::uint8_t>(old | kDown | ((old & kDown) != 0 ? 0 : kPressed));
    } while (!state_[vk].compare_exchange_weak(old, now, std::memory_order_acq_rel, std::memory_order_relaxed));
  }
  void Release(int vk) {
    if (Valid(vk)) state_[vk].fetch_and(static_cast<std::uint8_t>(~kDown), std::memory_order_acq_rel);
  }
  // A tap: pressed and released at the same instant; it counts once at the next query.
  void Tap(int vk) {
    if (Valid(vk)) state_[vk].store(kPressed, std::memory_order_release);
  }
  void ReleaseAll() {
    for (auto& s : state_) s.fetch_and(static_cast<std::uint8_t>(~kDown), std::memory_order_acq_rel);
  }
  bool Down(int vk) const { return Valid(vk) && (state_[vk].load(std::memory_order_acquire) & kDown) != 0; }

  // The state word of GetAsyncKeyState: 0x8000 when down, 1 when pressed since the last query.
  std::int16_t Query(int vk) {
    if (!Valid(vk)) return 0;
    const std::uint8_t old = state_[vk].fetch_and(static_cast<std::uint8_t>(~kPressed), std::memory_order_acq_rel);
    return static_cast<std::int16_t>(((old & kDown) != 0 ? 0x8000 : 0) | ((old & kPressed) != 0 ? 1 : 0));
  }

 private:
  static constexpr std::uint8_t kDown = 1;
  static constexpr std::uint8_t kPressed = 2;
  static bool Valid(int vk) { return vk > 0 && vk < 256; }
  std::array<std::atomic<std::uint8_t>, 256> state_{};
};

}  // namespace qr
