#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/KeyLatch.hpp"
#include "platform/Platform.hpp"
#include "platform/headless/Script.hpp"

namespace qr {

// Thrown by Sleep when the virtual clock reaches the end of the run; it unwinds every loop.
struct RunEnded {};

struct HeadlessOptions {
  std::uint64_t seed = 1;
  std::vector<ScriptEvent> script;
  std::int64_t runMs = 600000;
  std::string dataDir;  // empty: no file is read or written
};

// The headless twin: a virtual clock that only Sleep advances, scripted keys, no window.
class HeadlessPlatform : public Platform {
 public:
  explicit HeadlessPlatform(HeadlessOptions options);

  std::int64_t NowMs() const override { return now_; }
  void DoEvents() override;
  void Refresh() override { ++refreshes_; }
  void Show() override { shown_ = true; }
  std::int16_t GetAsyncKeyState(int vk) override;
  void Sleep(std::int32_t ms) override;
  void MovePointer(std::int32_t x, std::int32_t y) override;
  std::string DataDirectory() override;
  void PlaySound(const std::string& name) override { sounds_.push_back(name); }
  std::uint64_t RandomSeed() override { return options_.seed; }
  void CountPass(LoopId id) override { ++passes_[static_cast<int>(id)]; }

  // Moves the end of the run (tests start the game, then drive its procedures directly).
  void SetRunMs(std::int64_t runMs) { options_.runMs = runMs; }
  // Scripting from tests: events may also be added while the game runs.
  void AddEvent(const ScriptEvent& event);
  // A hook run at every Sleep, after the clock moved (tests use it to watch the game).
  void SetSleepHook(std::function<void()> hook) { hook_ = std::move(hook); }

  bool Shown() const { return shown_; }
  std::int64_t Refreshes() const { return refreshes_; }
  std::int64_t Passes(LoopId id) const { return passes_[static_cast<int>(id)]; }
  const std::vector<std::string>& Sounds() const { return sounds_; }
  void ClearSounds() { sounds_.clear(); }
  std::int32_t PointerX() const { return pointerX_; }
  std::int32_t PointerY() const { return pointerY_; }

 private:
  void ApplyScript();

  HeadlessOptions options_;
  std::size_t nextEvent_ = 0;
  std::int64_t now_ = 0;
  KeyLatch keys_;
  std::deque<std::int16_t> pending_;  // key-down codes in order; kFocusLost for a focus loss
  bool shown_ = false;
  std::int64_t refreshes_ = 0;
  std::int64_t passes_[3] = {0, 0, 0};
  std::vector<std::string> sounds_;
  std::int32_t pointerX_ = -1;
  std::int32_t pointerY_ = -1;
  std::function<void()> hook_;
};

}  // namespace qr
