#include "hosts/headless/HeadlessHost.hpp"

#include <cstdio>
#include <utility>

namespace qr {

HeadlessHost::HeadlessHost(HeadlessOptions options)
    : options_(std::move(options)),
      files_(options_.dataDir),
      recorded_(options_.files, options_.loads),
      script_(std::move(options_.script)) {}

void HeadlessHost::Pace(std::int64_t gameMs) {
  now_ = gameMs;
  if (hook_) hook_();
  if (now_ >= options_.runMs) throw RunEnded{};
}

// A file that a recording brings is served as the recorded game found it, whatever the data
// directory holds; what the game saves still goes to the data directory.
LoadedFile HeadlessHost::LoadFile(const std::string& name, std::size_t limit) {
  if (recorded_.Holds(name)) return recorded_.Load(name, now_);
  return files_.Load(name, limit);
}

bool HeadlessHost::SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
  if (!files_.Save(name, bytes, error)) return false;
  if (recorded_.Holds(name)) recorded_.Saved(name, bytes);
  return true;
}

void HeadlessHost::RemoveFile(const std::string& name) {
  files_.Remove(name);
  if (recorded_.Holds(name)) recorded_.Removed(name);
}

void HeadlessHost::Tell(const std::string& message) {
  std::fprintf(stderr, "quillmarsh-rall: %s\n", message.c_str());
  told_.push_back(message);
}

void HeadlessHost::TakeInput(std::vector<InputEvent>& events) { script_.Take(now_, events); }

HeadlessMachine::HeadlessMachine(HeadlessOptions options)
    : detail::HeadlessHostHolder(std::move(options)), Machine(headlessHost) {}

void HeadlessMachine::AddEvent(const ScriptEvent& event) {
  headlessHost.AddEvent(event);
  if (event.ms <= NowMs()) TakeInput();
}

}  // namespace qr
