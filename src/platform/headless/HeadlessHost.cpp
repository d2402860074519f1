#include "platform/headless/HeadlessHost.hpp"

#include <cstdio>
#include <utility>

namespace qr {

HeadlessHost::HeadlessHost(HeadlessOptions options) : options_(std::move(options)), files_(options_.dataDir) {}

void HeadlessHost::Pace(std::int64_t gameMs) {
  now_ = gameMs;
  if (hook_) hook_();
  if (now_ >= options_.runMs) throw RunEnded{};
}

LoadedFile HeadlessHost::LoadFile(const std::string& name, std::size_t limit) {
  auto it = options_.files.find(name);
  if (it != options_.files.end()) return it->second;
  return files_.Load(name, limit);
}

void HeadlessHost::Tell(const std::string& message) {
  std::fprintf(stderr, "quillmarsh-rall: %s\n", message.c_str());
  told_.push_back(message);
}

void HeadlessHost::TakeInput(std::vector<InputEvent>& events) {
  while (nextEvent_ < options_.script.size() && options_.script[nextEvent_].ms <= now_) {
    const ScriptEvent& e = options_.script[nextEvent_++];
    events.push_back(InputEvent{e.action, e.vk});
  }
}

HeadlessMachine::HeadlessMachine(HeadlessOptions options)
    : detail::HeadlessHostHolder(std::move(options)), Machine(headlessHost) {}

void HeadlessMachine::AddEvent(const ScriptEvent& event) {
  headlessHost.AddEvent(event);
  if (event.ms <= NowMs()) TakeInput();
}

}  // namespace qr
