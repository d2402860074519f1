#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HostWrapper.hpp"
#include "platform/headless/Script.hpp"

namespace qr {

// What a recording keeps besides the input: the seed, and the files the game read as it found
// them (the high-score tables shape the game), so that a replay needs nothing of this machine.
struct RecordingHeader {
  std::optional<std::uint64_t> seed;
  std::map<std::string, LoadedFile> files;
};

// The header of a recording, from its comment lines "# seed N" and "# file NAME ..."; other
// lines are left alone, so a plain script has an empty header.
RecordingHeader ParseRecordingHeader(std::string_view text);

// The name a script gives the key: "Esc", "A", "7", "Semicolon", ... or "vk:N".
std::string KeyNameOf(int vk);

// Records every input event the game observes, stamped with the game time of the sleep at whose
// end it arrived, in the script format, after a header: a game is a pure function of its seed,
// the files it read and this input, so the recording plays it again exactly. The text is kept
// (for the recordings of the high-score tables) and, when a file is given, written as the game
// goes: at least once a second, and whole when the recorder ends.
class Recorder final : public HostWrapper {
 public:
  // out: where to write as the game goes (the caller closes it), or nullptr.
  Recorder(Host& inner, std::FILE* out);
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  std::uint64_t RandomSeed() override;
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  std::string Recording(std::int64_t gameStartMs = -1) override;

  // Writes what is not written yet.
  void Flush();

 private:
  void StartBody();

  std::string header_;
  std::string body_;
  bool bodyStarted_ = false;
  std::int64_t now_ = 0;
  std::FILE* out_ = nullptr;
  std::size_t written_ = 0;  // bytes of header_ + body_ in the file
  std::chrono::steady_clock::time_point lastFlush_;
};

// Plays a recording in a window: the recorded input at its game times, the recorded seed and
// files. The player's own keys are ignored but Esc, which leaves; the player's files are never
// written. The wait before the first input (the attract mode before the first coin) runs at
// full speed up to two seconds before it.
class Replayer final : public HostWrapper {
 public:
  Replayer(Host& inner, RecordingHeader header, std::vector<ScriptEvent> events, std::optional<std::uint64_t> seed);

  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  std::uint64_t RandomSeed() override;
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& /*name*/) override {}
  std::string Recording(std::int64_t /*gameStartMs*/ = -1) override { return {}; }

 private:
  RecordingHeader header_;
  std::vector<ScriptEvent> events_;
  std::optional<std::uint64_t> seed_;
  std::size_t next_ = 0;
  std::int64_t now_ = 0;
  std::int64_t fastUntil_ = 0;
  bool left_ = false;
  std::vector<InputEvent> live_;
};

}  // namespace qr
