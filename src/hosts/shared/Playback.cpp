#include "hosts/shared/Playback.hpp"

#include <utility>

namespace qr {

void ScriptPlayback::Take(std::int64_t nowMs, std::vector<InputEvent>& events) {
  while (next_ < events_.size() && events_[next_].ms <= nowMs) {
    const ScriptEvent& e = events_[next_++];
    events.push_back(InputEvent{e.action, e.vk});
  }
}

RecordedFiles::RecordedFiles(std::map<std::string, LoadedFile> start, std::vector<RecordedLoad> loads)
    : known_(std::move(start)), loads_(std::move(loads)), used_(loads_.size(), false) {
  for (const RecordedLoad& load : loads_) known_.try_emplace(load.name);
}

LoadedFile RecordedFiles::Load(const std::string& name, std::int64_t nowMs) {
  for (std::size_t i = 0; i < loads_.size() && loads_[i].ms <= nowMs; ++i) {
    if (used_[i] || loads_[i].name != name) continue;
    used_[i] = true;
    known_[name] = loads_[i].file;
    break;
  }
  auto it = known_.find(name);
  return it != known_.end() ? it->second : LoadedFile{};  // what the recording does not hold was not there
}

void RecordedFiles::Saved(const std::string& name, std::string_view bytes) {
  LoadedFile& file = known_[name];
  file.status = LoadedFile::Status::Ok;
  file.bytes.assign(bytes);
  file.reason.clear();
}

void RecordedFiles::Removed(const std::string& name) { known_[name] = LoadedFile{}; }

}  // namespace qr
