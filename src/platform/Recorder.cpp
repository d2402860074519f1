#include "platform/Recorder.hpp"

#include "platform/VirtualKeys.hpp"

#include <cstdlib>
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

RecordingHeader ParseRecordingHeader(std::string_view text) {
  RecordingHeader header;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> w = Words(text.substr(pos, end - pos));
    pos = end + 1;
    if (w.size() < 3 || w[0] != "#") continue;
    if (w[1] == "seed" && w.size() == 3) {
      std::uint64_t seed = 0;
      bool digits = !w[2].empty() && w[2].size() <= 20;
      for (const char c : w[2]) {
        if (c < '0' || c > '9') digits = false;
      }
      if (digits) {
        seed = std::strtoull(std::string(w[2]).c_str(), nullptr, 10);
        header.seed = seed;
      }
    } else if (w[1] == "file" && w.size() >= 4) {
      LoadedFile file;
      if (w[3] == "missing" && w.size() == 4) {
        file.status = LoadedFile::Status::Missing;
      } else if (w[3] == "unreadable") {
        file.status = LoadedFile::Status::Unreadable;
        file.reason = "unreadable when the game was recorded";
      } else if (w[3] == "hex" && (w.size() == 4 || w.size() == 5)) {
        file.status = LoadedFile::Status::Ok;
        if (w.size() == 5 && !FromHex(w[4], file.bytes)) continue;
      } else {
        continue;
      }
      header.files[std::string(w[2])] = file;
    }
  }
  return header;
}

Recorder::Recorder(Host& inner, std::FILE* out)
    : HostWrapper(inner), out_(out), lastFlush_(std::chrono::steady_clock::now()) {
  header_ = "# quillmarsh-rall recording: <game ms> down|up|tap <key>, <game ms> focus-lost|close\n";
  header_ += "# version " QR_VERSION "\n";
  header_ += "# started " + StartDate() + "\n";
}

Recorder::~Recorder() {
  StartBody();
  Flush();
}

void Recorder::StartBody() { bodyStarted_ = true; }

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

LoadedFile Recorder::LoadFile(const std::string& name, std::size_t limit) {
  LoadedFile file = HostWrapper::LoadFile(name, limit);
  // Names with blanks cannot be told apart in a header line; the game's own have none.
  if (!bodyStarted_ && name.find_first_of(" \t\r\n") == std::string::npos) {
    header_ += "# file " + name + " ";
    switch (file.status) {
      case LoadedFile::Status::Ok:
        header_ += "hex " + Hex(std::string_view(file.bytes).substr(0, kRecordedFileBytes));
        break;
      case LoadedFile::Status::Missing:
        header_ += "missing";
        break;
      case LoadedFile::Status::Unreadable:
        header_ += "unreadable";
        break;
    }
    header_ += "\n";
  }
  return file;
}

std::string Recorder::Recording(std::int64_t /*gameStartMs*/) { return header_ + body_; }

void Recorder::Flush() {
  lastFlush_ = std::chrono::steady_clock::now();
  if (out_ == nullptr || !bodyStarted_) return;
  const std::string text = header_ + body_;
  if (written_ < text.size()) {
    std::fwrite(text.data() + written_, 1, text.size() - written_, out_);
    written_ = text.size();
  }
  std::fflush(out_);
}

Replayer::Replayer(Host& inner, RecordingHeader header, std::vector<ScriptEvent> events,
                   std::optional<std::uint64_t> seed)
    : HostWrapper(inner), header_(std::move(header)), events_(std::move(events)), seed_(seed) {
  if (!seed_) seed_ = header_.seed;
  // Two seconds of the attract mode before the first input are shown; what comes before runs
  // unseen, as fast as the machine goes.
  fastUntil_ = events_.empty() ? 0 : events_.front().ms - 2000;
}

void Replayer::Pace(std::int64_t gameMs) {
  now_ = gameMs;
  if (gameMs < fastUntil_) return;
  HostWrapper::Pace(gameMs);
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
}

std::uint64_t Replayer::RandomSeed() { return seed_ ? *seed_ : HostWrapper::RandomSeed(); }

LoadedFile Replayer::LoadFile(const std::string& name, std::size_t /*limit*/) {
  auto it = header_.files.find(name);
  if (it != header_.files.end()) return it->second;
  return LoadedFile{};  // what the recording does not hold was not there
}

// A replay never touches the player's files: saving is done, silently, nowhere.
bool Replayer::SaveFile(const std::string& /*name*/, std::string_view /*bytes*/, std::string& /*error*/) {
  return true;
}

}  // namespace qr
