#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hosts/desktop/DataFiles.hpp"
#include "hosts/shared/Playback.hpp"
#include "hosts/shared/Script.hpp"
#include "machine/Host.hpp"
#include "machine/Machine.hpp"

namespace qr {

// Thrown when the game clock reaches the end of the run; it unwinds every loop.
struct RunEnded {};

// Plays a game on a headless machine from its start (Form_Load) until it ends by itself (true)
// or the run's time is up (false).
template <typename Game>
bool PlayHeadless(Game& game) {
  try {
    game.Form_Load();
    return true;
  } catch (const RunEnded&) {
    return false;
  }
}

struct HeadlessOptions {
  std::uint64_t seed = 1;
  std::vector<ScriptEvent> script;
  std::int64_t runMs = 600000;
  std::string dataDir;  // empty: no file is read or written
  // Files as a recording found them, served in place of the data directory's, and as the
  // recorded game found them again during the game.
  std::map<std::string, LoadedFile> files;
  std::vector<RecordedLoad> loads;
};

// The headless twin's host: no window, no sound, no waiting; the input comes from a script,
// each event at the end of the first sleep that reaches its time.
class HeadlessHost final : public Host {
 public:
  explicit HeadlessHost(HeadlessOptions options);

  void ShowFrame(const Surface& /*surface*/) override {}
  void ShowWindow() override { shown_ = true; }
  void SetCaption(const std::string& /*caption*/) override {}
  void MovePointer(std::int32_t /*x*/, std::int32_t /*y*/) override {}
  void Pace(std::int64_t gameMs) override;
  void Held(std::int64_t) override {}
  void TakeInput(std::vector<InputEvent>& events) override;
  void PlaySound(const std::string& /*name*/) override {}
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& name) override;
  std::string FilesLocation() override { return files_.Location(); }
  bool LockFiles(std::string& error) override { return files_.Lock(error); }
  void UnlockFiles() override { files_.Unlock(); }
  // On stderr, and kept for the tests.
  void Tell(const std::string& message) override;
  std::uint64_t RandomSeed() override { return options_.seed; }
  void TextEntry(bool /*on*/) override {}
  void CountPass(LoopId /*id*/) override {}
  std::string Recording(std::int64_t /*gameStartMs*/) override { return {}; }
  const std::vector<std::string>& Told() const { return told_; }

  // Moves the end of the run (tests start the game, then drive its procedures directly).
  void SetRunMs(std::int64_t runMs) { options_.runMs = runMs; }
  // Events may also be added while the game runs.
  void AddEvent(const ScriptEvent& event) { script_.Add(event); }
  // A hook run at every sleep, after the clock moved (tests use it to watch the game).
  void SetSleepHook(std::function<void()> hook) { hook_ = std::move(hook); }
  bool Shown() const { return shown_; }

 private:
  HeadlessOptions options_;
  DataFiles files_;
  RecordedFiles recorded_;
  ScriptPlayback script_;
  std::int64_t now_ = 0;  // the game time of the last sleep
  bool shown_ = false;
  std::function<void()> hook_;
  std::vector<std::string> told_;
};

namespace detail {
struct HeadlessHostHolder {
  explicit HeadlessHostHolder(HeadlessOptions options) : headlessHost(std::move(options)) {}
  HeadlessHost headlessHost;
};
}  // namespace detail

// The headless twin ready to run a game: the machine on a headless host.
class HeadlessMachine : private detail::HeadlessHostHolder, public Machine {
 public:
  explicit HeadlessMachine(HeadlessOptions options);

  // An event at the present arrives at once, as between two passes; a later one at its time.
  void AddEvent(const ScriptEvent& event);
  void SetRunMs(std::int64_t runMs) { headlessHost.SetRunMs(runMs); }
  void SetSleepHook(std::function<void()> hook) { headlessHost.SetSleepHook(std::move(hook)); }
  bool Shown() const { return headlessHost.Shown(); }
  const std::vector<std::string>& Told() const { return headlessHost.Told(); }
};

}  // namespace qr
