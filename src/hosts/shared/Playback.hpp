#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/shared/Script.hpp"
#include "machine/Host.hpp"

namespace qr {

// A script played to a game: each event is handed over at the end of the first sleep that
// reaches its time, in the script's order.
class ScriptPlayback {
 public:
  ScriptPlayback() = default;
  explicit ScriptPlayback(std::vector<ScriptEvent> events) : events_(std::move(events)) {}

  // Appends the events not yet handed over whose time is nowMs or earlier, up to the first later one.
  void Take(std::int64_t nowMs, std::vector<InputEvent>& events);
  // An event more, after those the script has.
  void Add(const ScriptEvent& event) { events_.push_back(event); }
  // Every event has been handed over.
  bool Spent() const { return next_ == events_.size(); }
  const std::vector<ScriptEvent>& Events() const { return events_; }

 private:
  std::vector<ScriptEvent> events_;
  std::size_t next_ = 0;
};

// The game's files as a recording holds them, for a game played again: as found at the start,
// as found again when another game had changed them, and as the game itself saved them since.
class RecordedFiles {
 public:
  RecordedFiles() = default;
  RecordedFiles(std::map<std::string, LoadedFile> start, std::vector<RecordedLoad> loads);

  bool Holds(const std::string& name) const { return known_.count(name) != 0; }
  // The file as the recorded game found it when it read it at game time nowMs.
  LoadedFile Load(const std::string& name, std::int64_t nowMs);
  void Saved(const std::string& name, std::string_view bytes);
  void Removed(const std::string& name);

 private:
  std::map<std::string, LoadedFile> known_;
  std::vector<RecordedLoad> loads_;
  std::vector<bool> used_;
};

}  // namespace qr
