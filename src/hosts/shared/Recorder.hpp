#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/shared/HostWrapper.hpp"
#include "hosts/shared/Playback.hpp"
#include "hosts/shared/Script.hpp"

namespace qr {

// Where a recording is written as the game goes (the desktop's --record file).
class RecordingSink {
 public:
  virtual ~RecordingSink() = default;
  // Takes the recording so far (whole holds it from its start; the sink writes what is new).
  // False once it cannot keep it, with the reason: it then takes nothing more until Finish.
  virtual bool Keep(std::string_view whole, std::string& error) = 0;
  // The whole recording at its end; false with the reason when it cannot be kept.
  virtual bool Finish(std::string_view whole, std::string& error) = 0;
  // The name for the player's messages.
  virtual std::string Name() const = 0;
};

// Records every input event the game observes, stamped with the game time of the sleep at whose
// end it arrived, in the script format, after a header: a game is a pure function of its seed,
// the files it read and this input, so the recording plays it again exactly. The text is kept
// (for the recordings of the high-score tables) and, when a file is given, written as the game
// goes and whole by Finish.
class Recorder final : public HostWrapper {
 public:
  // out: where to write as the game goes, or nullptr.
  Recorder(Host& inner, RecordingSink* out);
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  std::uint64_t RandomSeed() override;
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& name) override;
  std::string Recording(std::int64_t gameStartMs) override;
  std::string Recording() { return Recording(-1); }

  // Writes the whole recording to the file; false when it cannot be kept (the player was told).
  bool Finish();

 private:
  void Flush();
  void StartBody() { bodyStarted_ = true; }

  RecordingWriter text_;
  bool bodyStarted_ = false;
  std::int64_t now_ = 0;
  RecordingSink* out_ = nullptr;
  bool toldFailure_ = false;
  std::map<std::string, LoadedFile> known_;  // each file as the game last read or saved it
  std::chrono::steady_clock::time_point lastFlush_;
};

// Plays a recording: the recorded input at its game times, the recorded seed and files. The
// player's own keys are ignored but Esc, which leaves; the player's files are never written.
// What comes before the game of interest (the "# game" mark, or else the first input) runs at
// full speed up to two seconds before it; the caption says "Replay"; once the input is spent and
// the game is back in the attract mode, the replay ends.
class Replayer final : public HostWrapper {
 public:
  // seed: the command line's, which wins over the recording's.
  Replayer(Host& inner, Script recording, std::optional<std::uint64_t> seed);

  void SetCaption(const std::string& caption) override;
  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  std::uint64_t RandomSeed() override;
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& name) override { files_.Removed(name); }
  bool LockFiles(std::string& /*error*/) override { return true; }
  void UnlockFiles() override {}
  void CountPass(LoopId id) override;
  std::string Recording(std::int64_t /*gameStartMs*/) override { return {}; }

  // True once the recorded input is spent and the game has come back to the attract mode.
  bool Ended() const { return ended_; }

 private:
  RecordedFiles files_;
  ScriptPlayback input_;
  std::optional<std::uint64_t> seed_;
  std::int64_t now_ = 0;
  std::int64_t fastUntil_ = 0;
  bool left_ = false;
  bool ended_ = false;
  std::vector<InputEvent> live_;
};

}  // namespace qr
