#include "hosts/shared/Recorder.hpp"

#include "machine/VirtualKeys.hpp"

#include <climits>
#include <cstdint>
#include <ctime>

namespace qr {

namespace {

// A recorded file keeps this much: the game reads only the first line of its one file.
constexpr std::size_t kRecordedFileBytes = 1024;

const char* ActionName(InputEvent::Kind kind) {
  switch (kind) {
    case InputEvent::Kind::Down:
      return "down";
    case InputEvent::Kind::Up:
      return "up";
    case InputEvent::Kind::Tap:
      return "tap";
    case InputEvent::Kind::FocusLost:
      return "focus-lost";
    case InputEvent::Kind::Close:
      return "close";
  }
  return "close";
}

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool FromHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  auto value = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = value(hex[i]);
    const int lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

// The words of one line.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

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

}  // namespace

std::string KeyNameOf(int vk) {
  switch (vk) {
    case vk::kEsc:
      return "Esc";
    case vk::kEnter:
      return "Enter";
    case vk::kBackspace:
      return "Backspace";
    case vk::kSpace:
      return "Space";
    case vk::kLeft:
      return "Left";
    case vk::kUp:
      return "Up";
    case vk::kRight:
      return "Right";
    case vk::kDown:
      return "Down";
    case vk::kSemicolon:
      return "Semicolon";
    default:
      break;
  }
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, static_cast<char>(vk));
  return "vk:" + std::to_string(vk);
}

namespace {

// "hex HEX", "hex" (an empty file), "missing" or "unreadable": a file as a recording says it was.
bool ParseRecordedFile(const std::vector<std::string_view>& w, std::size_t at, LoadedFile& file) {
  if (w[at] == "missing" && w.size() == at + 1) {
    file.status = LoadedFile::Status::Missing;
    return true;
  }
  if (w[at] == "unreadable") {
    file.status = LoadedFile::Status::Unreadable;
    file.reason = "unreadable when the game was recorded";
    return true;
  }
  if (w[at] == "hex" && (w.size() == at + 1 || w.size() == at + 2)) {
    file.status = LoadedFile::Status::Ok;
    return w.size() == at + 1 || FromHex(w[at + 1], file.bytes);
  }
  return false;
}

std::string RecordedFileText(const LoadedFile& file) {
  switch (file.status) {
    case LoadedFile::Status::Ok:
      return "hex " + Hex(std::string_view(file.bytes).substr(0, kRecordedFileBytes));
    case LoadedFile::Status::Missing:
      return "missing";
    case LoadedFile::Status::Unreadable:
      return "unreadable";
  }
  return "missing";
}

bool SameFile(const LoadedFile& a, const LoadedFile& b) {
  return a.status == b.status && (a.status != LoadedFile::Status::Ok || a.bytes == b.bytes);
}

// A whole decimal number of at most max.
bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

}  // namespace

std::optional<RecordingHeader> ParseRecordingHeader(std::string_view text, const std::string& name,
                                                    std::string& error) {
  RecordingHeader header;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
  std::size_t pos = 0;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    error = Printable(name) + ":" + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> w = Words(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNo;
    // A file read again during the game: "<ms> file NAME ...".
    if (w.size() >= 4 && w[1] == "file" && w[0] != "#") {
      RecordedLoad load;
      std::uint64_t ms = 0;
      if (!ParseDecimal(w[0], static_cast<std::uint64_t>(INT64_MAX), ms) || !ParseRecordedFile(w, 3, load.file)) {
        return fail("a file line that cannot be read");
      }
      load.ms = static_cast<std::int64_t>(ms);
      load.name = std::string(w[2]);
      header.loads.push_back(std::move(load));
      continue;
    }
    if (w.size() < 3 || w[0] != "#") continue;
    if (w[1] == "seed" && w.size() == 3) {
      std::uint64_t seed = 0;
      if (!ParseDecimal(w[2], UINT64_MAX, seed))
        return fail("the seed " + Quoted(w[2]) + " is not a number up to 2^64 - 1");
      if (header.seed) return fail("a second seed");
      header.seed = seed;
    } else if (w[1] == "game" && w.size() == 3) {
      std::uint64_t ms = 0;
      if (!ParseDecimal(w[2], static_cast<std::uint64_t>(INT64_MAX), ms))
        return fail("the game's start " + Quoted(w[2]) + " is not a time");
      header.gameStartMs = static_cast<std::int64_t>(ms);
    } else if (w[1] == "format" && w.size() == 3) {
      std::uint64_t format = 0;
      if (!ParseDecimal(w[2], 1000000, format) || format > static_cast<std::uint64_t>(kRecordingFormat)) {
        return fail("a recording of format " + Quoted(w[2]) + ", newer than this game reads (" +
                    std::to_string(kRecordingFormat) + ")");
      }
    } else if (w[1] == "rules" && w.size() == 3) {
      std::uint64_t rules = 0;
      if (!ParseDecimal(w[2], 1000000, rules) || rules != static_cast<std::uint64_t>(kRulesVersion)) {
        return fail("recorded under other rules (" + Quoted(w[2]) + "; this game plays rules " +
                    std::to_string(kRulesVersion) + "), so it would play a different game");
      }
    } else if (w[1] == "file" && w.size() >= 4) {
      LoadedFile file;
      if (!ParseRecordedFile(w, 3, file)) continue;
      header.files[std::string(w[2])] = file;
    }
  }
  return header;
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

Recorder::Recorder(Host& inner, RecordingSink* out)
    : HostWrapper(inner), out_(out), lastFlush_(std::chrono::steady_clock::now()) {
  header_ = "# quillmarsh-rall recording: <game ms> down|up|tap <key>, <game ms> focus-lost|close\n";
  header_ += "# format " + std::to_string(kRecordingFormat) + "\n";
  header_ += "# rules " + std::to_string(kRulesVersion) + "\n";
  header_ += "# version " QR_VERSION "\n";
  header_ += "# started " + StartDate() + "\n";
}

void Recorder::Pace(std::int64_t gameMs) {
  StartBody();
  now_ = gameMs;
  if (out_ != nullptr && std::chrono::steady_clock::now() - lastFlush_ >= std::chrono::seconds(1)) Flush();
  HostWrapper::Pace(gameMs);
}

void Recorder::TakeInput(std::vector<InputEvent>& events) {
  const std::size_t first = events.size();
  HostWrapper::TakeInput(events);
  for (std::size_t i = first; i < events.size(); ++i) {
    const InputEvent& e = events[i];
    body_ += std::to_string(now_);
    body_ += ' ';
    body_ += ActionName(e.kind);
    if (e.kind == InputEvent::Kind::Down || e.kind == InputEvent::Kind::Up || e.kind == InputEvent::Kind::Tap) {
      body_ += ' ';
      body_ += KeyNameOf(e.vk);
    }
    body_ += '\n';
  }
}

std::uint64_t Recorder::RandomSeed() {
  const std::uint64_t seed = HostWrapper::RandomSeed();
  if (!bodyStarted_) header_ += "# seed " + std::to_string(seed) + "\n";
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
    header_ += "# file " + name + " " + RecordedFileText(file) + "\n";
  } else if (auto it = known_.find(name); it == known_.end() || !SameFile(it->second, file)) {
    body_ += std::to_string(now_) + " file " + name + " " + RecordedFileText(file) + "\n";
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

std::string Recorder::Recording(std::int64_t gameStartMs) {
  if (gameStartMs < 0) return header_ + body_;
  return header_ + "# game " + std::to_string(gameStartMs) + "\n" + body_;
}

void Recorder::Flush() {
  lastFlush_ = std::chrono::steady_clock::now();
  if (out_ == nullptr || !bodyStarted_) return;
  std::string error;
  if (out_->Keep(header_ + body_, error) || toldFailure_) return;
  toldFailure_ = true;
  Tell("cannot write the recording to " + out_->Name() + " as the game goes (" + error +
       "); it is kept whole and written at the end");
}

bool Recorder::Finish() {
  if (out_ == nullptr) return true;
  StartBody();
  std::string error;
  if (out_->Finish(header_ + body_, error)) return true;
  Tell("cannot write the recording to " + out_->Name() + ": " + error);
  return false;
}

Replayer::Replayer(Host& inner, RecordingHeader header, std::vector<ScriptEvent> events,
                   std::optional<std::uint64_t> seed)
    : HostWrapper(inner),
      files_(std::move(header.files), std::move(header.loads)),
      events_(std::move(events)),
      seed_(seed ? seed : header.seed) {
  // Two seconds before the game of interest (or else the first input) are shown; what comes
  // before runs unseen, as fast as the machine goes.
  if (header.gameStartMs) {
    fastUntil_ = *header.gameStartMs - 2000;
  } else {
    fastUntil_ = events_.empty() ? 0 : events_.front().ms - 2000;
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
  if (id == LoopId::DemoLoop && next_ == events_.size() && !ended_ && !left_) {
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
  while (next_ < events_.size() && events_[next_].ms <= now_) {
    const ScriptEvent& e = events_[next_++];
    events.push_back(InputEvent{e.action, e.vk});
  }
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
