#include "hosts/shared/Recorder.hpp"

#include "machine/VirtualKeys.hpp"

#include <cstdint>
#include <ctime>

namespace qr {

namespace {

std::string StartDate() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

bool SameFile(const LoadedFile& a, const LoadedFile& b) {
  return a.status == b.status && (a.status != LoadedFile::Status::Ok || a.bytes == b.bytes);
}

}  // namespace

Recorder::Recorder(Host& inner, RecordingSink* out)
    : HostWrapper(inner), text_(QR_VERSION, StartDate()), out_(out), lastFlush_(std::chrono::steady_clock::now()) {}

void Recorder::Pace(std::int64_t gameMs) {
  StartBody();
  now_ = gameMs;
  if (out_ != nullptr && std::chrono::steady_clock::now() - lastFlush_ >= std::chrono::seconds(1)) Flush();
  HostWrapper::Pace(gameMs);
}

void Recorder::TakeInput(std::vector<InputEvent>& events) {
  const std::size_t first = events.size();
  HostWrapper::TakeInput(events);
  for (std::size_t i = first; i < events.size(); ++i) text_.Event(now_, events[i]);
}

std::uint64_t Recorder::RandomSeed() {
  const std::uint64_t seed = HostWrapper::RandomSeed();
  if (!bodyStarted_) text_.Seed(seed);
  return seed;
}

// A file read at the start goes into the header. One read again during the game is recorded
// only when it is not as the game last knew it (another game saved it meanwhile): a replay
// finds every other file as the game itself left it.
LoadedFile Recorder::LoadFile(const std::string& name, std::size_t limit) {
  LoadedFile file = HostWrapper::LoadFile(name, limit);
  // Names with blanks cannot be told apart in a header line; the game's own have none.
  if (name.find_first_of(" \t\r\n") != std::string::npos) return file;
  if (!bodyStarted_) {
    text_.FileAtStart(name, file);
  } else if (auto it = known_.find(name); it == known_.end() || !SameFile(it->second, file)) {
    text_.FileAgain(now_, name, file);
  }
  known_[name] = file;
  return file;
}

bool Recorder::SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
  if (!HostWrapper::SaveFile(name, bytes, error)) return false;
  LoadedFile& file = known_[name];
  file.status = LoadedFile::Status::Ok;
  file.bytes.assign(bytes);
  file.reason.clear();
  return true;
}

void Recorder::RemoveFile(const std::string& name) {
  HostWrapper::RemoveFile(name);
  known_[name] = LoadedFile{};
}

std::string Recorder::Recording(std::int64_t gameStartMs) { return text_.Text(gameStartMs); }

void Recorder::Flush() {
  lastFlush_ = std::chrono::steady_clock::now();
  if (out_ == nullptr || !bodyStarted_) return;
  std::string error;
  if (out_->Keep(text_.Text(), error) || toldFailure_) return;
  toldFailure_ = true;
  Tell("cannot write the recording to " + out_->Name() + " as the game goes (" + error +
       "); it is kept whole and written at the end");
}

bool Recorder::Finish() {
  if (out_ == nullptr) return true;
  StartBody();
  std::string error;
  if (out_->Finish(text_.Text(), error)) return true;
  Tell("cannot write the recording to " + out_->Name() + ": " + error);
  return false;
}

Replayer::Replayer(Host& inner, Script recording, std::optional<std::uint64_t> seed)
    : HostWrapper(inner),
      files_(std::move(recording.header.files), std::move(recording.header.loads)),
      input_(std::move(recording.events)),
      seed_(seed ? seed : recording.header.seed) {
  // Two seconds before the game of interest (or else the first input) are shown; what comes
  // before runs unseen, as fast as the machine goes.
  if (recording.header.gameStartMs) {
    fastUntil_ = *recording.header.gameStartMs - 2000;
  } else {
    fastUntil_ = input_.Events().empty() ? 0 : input_.Events().front().ms - 2000;
  }
}

void Replayer::SetCaption(const std::string& caption) { HostWrapper::SetCaption(caption + " - Replay"); }

void Replayer::Pace(std::int64_t gameMs) {
  now_ = gameMs;
  if (gameMs < fastUntil_) return;
  HostWrapper::Pace(gameMs);
}

void Replayer::CountPass(LoopId id) {
  // The input spent and the game back in the attract mode: nothing more will happen.
  if (id == LoopId::DemoLoop && input_.Spent() && !ended_ && !left_) {
    ended_ = true;
    Tell("the replay has ended");
  }
  HostWrapper::CountPass(id);
}

void Replayer::TakeInput(std::vector<InputEvent>& events) {
  live_.clear();
  HostWrapper::TakeInput(live_);
  for (const InputEvent& e : live_) {
    const bool esc = e.kind == InputEvent::Kind::Down && e.vk == vk::kEsc;
    const bool windowGone = e.kind == InputEvent::Kind::FocusLost || e.kind == InputEvent::Kind::Close;
    // Esc, closing the window or leaving it ends the replay, as a closed window ends the game.
    if ((esc || windowGone) && !left_) {
      left_ = true;
      events.push_back(InputEvent{InputEvent::Kind::Close, 0});
    }
  }
  input_.Take(now_, events);
  if (ended_ && !left_) {
    left_ = true;
    events.push_back(InputEvent{InputEvent::Kind::Close, 0});
  }
}

std::uint64_t Replayer::RandomSeed() { return seed_ ? *seed_ : HostWrapper::RandomSeed(); }

LoadedFile Replayer::LoadFile(const std::string& name, std::size_t /*limit*/) { return files_.Load(name, now_); }

// A replay never touches the player's files: what the game saves is kept for the replay alone.
bool Replayer::SaveFile(const std::string& name, std::string_view bytes, std::string& /*error*/) {
  files_.Saved(name, bytes);
  return true;
}

}  // namespace qr
