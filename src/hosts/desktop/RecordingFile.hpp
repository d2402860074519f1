#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "hosts/shared/Recorder.hpp"

namespace qr {

// The file of --record. The recording so far goes to PATH.part as the game goes, so that a game
// that dies leaves what it had under a name that says it is cut; at the end the whole recording
// replaces PATH at once. PATH itself is left as it was until then, whatever fails.
class RecordingFile final : public RecordingSink {
 public:
  explicit RecordingFile(std::string path) : path_(std::move(path)) {}
  ~RecordingFile() override;
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // Appends what whole holds beyond what was written. Once a write fails, the part file is
  // removed (no gap is ever followed by more input) and nothing more is written until Finish.
  bool Keep(std::string_view whole, std::string& error) override;
  // Writes the whole recording to PATH, atomically; a part file that holds all of it stays
  // when that fails.
  bool Finish(std::string_view whole, std::string& error) override;
  std::string Name() const override;

  std::string PartPath() const { return path_ + ".part"; }

 private:
  void GiveUpPart();

  std::string path_;
  std::FILE* part_ = nullptr;
  std::size_t written_ = 0;
  bool failed_ = false;
};

}  // namespace qr
