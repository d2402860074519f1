#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hosts/shared/Gamepads.hpp"
#include "hosts/shared/InputQueue.hpp"
#include "hosts/shared/Pacer.hpp"
#include "hosts/shared/PassStats.hpp"
#include "hosts/shared/Playback.hpp"
#include "hosts/shared/TouchControls.hpp"
#include "machine/Host.hpp"

namespace qr {

// What the page asks for in its address (?seed=N&script=...&stop-ms=T&fast=1&no-gamepad=1): tests
// use most of them; no-gamepad leaves the game pads alone.
struct WebOptions {
  std::optional<std::uint64_t> seed;
  ScriptPlayback script;     // input at game times, besides the keyboard's
  std::int64_t stopMs = -1;  // the game halts at this game time (tests read the picture; QR.resume() goes on)
  bool fast = false;         // no pacing: game time runs as fast as the page can
  bool pads = true;          // the browser's game pads play too
};

// The web page's host: the picture goes to the page's canvas, keys come from the browser's key
// events (the DOM key codes are the Windows virtual-key codes), sound through WebAudio, files in
// the browser's local storage, and Pace yields to the browser until the wall clock reaches the
// game time (the page is built with Asyncify, so the game's busy loops keep their shape). Game
// pads with the browser's standard mapping are read at every sleep and give the keyboard's keys
// (see Gamepads).
//
// On a touch screen the page's controls hold the game's keys (see TouchControls). There, and
// wherever the page asks for it (?pause=1), losing the focus pauses the game instead of ending
// it: the sleep that goes on when the focus goes does not end until the player comes back and
// touches the page (or presses a key, or clicks), so the game never sees the pause; what was held
// goes up as it resumes.
//
// For the latency figures every key, touch and pad event carries the browser's time stamp; the page
// measures from it to the end of the browser's rendering of the first frame the game drew after
// it took the event (when the frame is handed to the compositor).
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
  void Held(std::int64_t heldUs) override { pacer_.Held(heldUs); }
  void TakeInput(std::vector<InputEvent>& events) override;
  void PlaySound(const std::string& name) override;
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& name) override;
  std::string FilesLocation() override;
  // The browser's storage has no lock between pages; the table is read again right before it is
  // written (see rall.js).
  bool LockFiles(std::string& /*error*/) override { return true; }
  void UnlockFiles() override {}
  // On the page's message line.
  void Tell(const std::string& message) override;
  std::uint64_t RandomSeed() override;
  void CountPass(LoopId id) override;
  void TextEntry(bool on) override;
  std::string Recording(std::int64_t /*gameStartMs*/) override { return {}; }

  // A new run of the game on this page: pacing starts afresh, no key is held, no input waits.
  void BeginRun();
  // Called at the stop time with the surface, before the game halts for good.
  void OnStop(std::function<void()> fn) { onStop_ = std::move(fn); }
  // What the page's recording link downloads while the game runs (the input so far), and the
  // game state that a test asks for; each handed over at the next sleep.
  void RecordingSource(std::function<std::string()> fn);
  void StateSource(std::function<std::string()> fn) { stateSource_ = std::move(fn); }
  // After a run: returns once a key or a pad's button is pressed (it starts nothing in the game),
  // or once the page asks to watch a kept game.
  void WaitForKey();
  // The run the page asks for next, once: a kept game to watch ("replays/2p-1.txt"), a ranked run
  // that the page fetched ("ranked/17") or a ranked game ("ranked-game SEED"); empty when none. A
  // request that comes while a run goes on ends the run.
  bool ReplayWanted();
  std::string TakeReplay();
  // The run took input (its recording holds more than its header).
  bool TookInput() const { return tookInput_; }

  // The browser's key and focus events (called from the event callbacks).
  bool KeyDown(int keyCode, bool repeat, bool modifier, double stamp);
  bool KeyUp(int keyCode, double stamp);
  void FocusLost();
  // A touch control (the number of a TouchControls::Control; kTouchScreen for the screen itself)
  // touched or let go.
  static constexpr int kTouchScreen = -1;
  void Touch(int control, bool down, double stamp);
  // The player came back to a paused page.
  void Resume();
  // The pads' timer (see PollPads).
  static void OnPadTimer(void* host);

 private:
  // The browser's events go to this host from construction to destruction (WebInput.cpp).
  void Listen();
  void StopListening();
  void EndRun();
  void TakePageRequests();
  // Reads the pads; true when A or Start went down on one of them.
  bool PollPads();
  static constexpr double kPadPollMs = 2;
  bool padTimerOn_ = false;
  // Lets the page have its turn.
  void Yield();
  // Returns once the player has come back; what was held goes up.
  void WaitWhilePaused();

  WebOptions options_;
  PassStats stats_;  // the loops' cadence on the wall clock, for the page's measurements
  std::function<void()> onStop_;
  std::function<std::string()> recordingSource_;
  std::function<std::string()> stateSource_;
  std::vector<std::uint8_t> paintedIndices_;  // the picture as handed to the canvas, and its colours
  std::array<std::uint32_t, 256> paintedPalette_{};
  std::vector<std::uint8_t> rgba_;  // the picture handed to the canvas
  std::vector<std::uint8_t> previewIndices_;
  std::array<std::uint32_t, 256> previewPalette_{};
  // The input for the game; its stamps are the page's clock (performance.now()).
  InputQueue input_;
  KeyInput keys_{input_};  // the keys the keyboard and the pads hold, and the run's end
  std::vector<InputEvent> scratch_;
  Gamepads pads_{keys_.Held()};
  TouchControls touch_{keys_.Held()};
  bool paused_ = false;
  static constexpr int kPadSlots = 8;                 // the places of the browser's list that are read
  std::array<std::string, kPadSlots> padAt_;          // the identity of the pad that plays from each place
  std::array<std::string, kPadSlots> padRefused_;     // a pad without the standard mapping, told once
  std::array<std::uint8_t, kPadSlots> padButtons_{};  // the buttons of kPadButtons held, as bits
  bool textEntry_ = false;                            // the game takes typed characters
  std::vector<InputQueue::Stamp> answered_;           // the input a frame answers
  std::int64_t now_ = 0;                              // the game time of the last Pace
  Pacer pacer_;
  double lastYield_ = 0;
  bool tookInput_ = false;  // the run has input to download
  bool waitingForKey_ = false;
  bool keyPressed_ = false;
};

// A DOM keyCode as the Windows virtual-key code; Firefox numbers three keys differently.
int VirtualKeyForDom(int keyCode);

}  // namespace qr
