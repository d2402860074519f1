#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Host.hpp"
#include "platform/headless/Script.hpp"
#include "platform/PassStats.hpp"

namespace qr {

// What the page asks for in its address (?seed=N&script=...&stop-ms=T&fast=1): tests use them.
struct WebOptions {
  std::optional<std::uint64_t> seed;
  std::vector<ScriptEvent> script;  // input at game times, besides the keyboard's
  std::int64_t stopMs = -1;         // the game halts at this game time (tests read the picture)
  bool fast = false;                // no pacing: game time runs as fast as the page can
};

// The web page's host: the picture goes to the page's canvas, keys come from the browser's key
// events (the DOM key codes are the Windows virtual-key codes), sound through WebAudio, files in
// the browser's local storage, and Pace yields to the browser until the wall clock reaches the
// game time (the page is built with Asyncify, so the game's busy loops keep their shape).
class WebHost final : public Host {
 public:
  explicit WebHost(WebOptions options);
  ~WebHost() override;
  WebHost(const WebHost&) = delete;
  WebHost& operator=(const WebHost&) = delete;

  void ShowFrame(const Surface& surface) override;
  void ShowWindow() override;
  void SetCaption(const std::string& caption) override;
  void MovePointer(std::int32_t /*x*/, std::int32_t /*y*/) override {}  // a page cannot move the pointer
  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  void PlaySound(const std::string& name) override;
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& name) override;
  std::string FilesLocation() override;
  std::uint64_t RandomSeed() override;
  void CountPass(LoopId id) override;

  // A new run of the game on this page: pacing starts afresh, no key is held, no input waits.
  void BeginRun();
  // Called at the stop time with the surface, before the game halts for good.
  void OnStop(std::function<void()> fn) { onStop_ = std::move(fn); }
  // What the page's recording link downloads while the game runs (the input so far), and the
  // game state that a test asks for; each handed over at the next sleep.
  void RecordingSource(std::function<std::string()> fn);
  void StateSource(std::function<std::string()> fn) { stateSource_ = std::move(fn); }
  // After a run: returns once a key is pressed (the key starts nothing in the game).
  void WaitForKey();

  // The browser's key and focus events (called from the event callbacks).
  bool KeyDown(int keyCode, bool repeat, bool modifier);
  bool KeyUp(int keyCode);
  void FocusLost();

 private:
  void Queue(InputEvent e) { input_.push_back(e); }
  void ReleaseAll();

  WebOptions options_;
  PassStats stats_;  // the loops' cadence on the wall clock, for the page's measurements
  std::function<void()> onStop_;
  std::function<std::string()> recordingSource_;
  std::function<std::string()> stateSource_;
  std::vector<std::uint8_t> shownIndices_;
  std::array<std::uint32_t, 256> shownPalette_{};
  std::vector<std::uint8_t> rgba_;  // the picture handed to the canvas
  std::vector<InputEvent> input_;
  std::array<bool, 256> down_{};
  std::size_t nextEvent_ = 0;
  std::int64_t now_ = 0;  // the game time of the last Pace
  bool paced_ = false;
  double origin_ = 0;  // the wall time (ms) at which the game time originGameMs_ is due
  std::int64_t originGameMs_ = 0;
  std::int64_t lastGameMs_ = 0;
  double lastYield_ = 0;
  bool focusLossQueued_ = false;
  bool waitingForKey_ = false;
  bool keyPressed_ = false;
};

// A DOM keyCode as the Windows virtual-key code; Firefox numbers three keys differently.
int VirtualKeyForDom(int keyCode);

}  // namespace qr
