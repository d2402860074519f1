#include "hosts/shared/Script.hpp"

#include <charconv>
#include <cstdint>
#include <sstream>
#include <utility>

#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// The keys that have a name of their own; the first name of a key is the one written.
struct NamedKey {
  std::string_view name;
  int vk;
};
constexpr NamedKey kNamedKeys[] = {
    {"Esc", vk::kEsc},     {"Escape", vk::kEsc},          {"Enter", vk::kEnter}, {"Backspace", vk::kBackspace},
    {"Space", vk::kSpace}, {"Left", vk::kLeft},           {"Up", vk::kUp},       {"Right", vk::kRight},
    {"Down", vk::kDown},   {"Semicolon", vk::kSemicolon},
};
constexpr const char* kKeyNames =
    "Esc (or Escape), Enter, Backspace, Space, Left, Right, Up, Down, Semicolon, A-Z, 0-9, vk:1 to vk:255";

struct NamedAction {
  std::string_view name;
  InputEvent::Kind kind;
};
constexpr NamedAction kActions[] = {
    {"down", InputEvent::Kind::Down},   {"up", InputEvent::Kind::Up},
    {"tap", InputEvent::Kind::Tap},     {"focus-lost", InputEvent::Kind::FocusLost},
    {"close", InputEvent::Kind::Close},
};
constexpr const char* kActionNames = "down, up, tap, focus-lost, close";

bool TakesKey(InputEvent::Kind kind) {
  return kind == InputEvent::Kind::Down || kind == InputEvent::Kind::Up || kind == InputEvent::Kind::Tap;
}

// A recorded file keeps this much: the game reads only the first line of its one file.
constexpr std::size_t kRecordedFileBytes = 1024;

// A whole number of milliseconds (or a key code): digits only, not negative.
bool ParseNumber(std::string_view text, std::int64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0;
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

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The words of a line.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

}  // namespace

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

bool Refuse(std::string& why, std::string reason) {
  why = std::move(reason);
  return false;
}

// Reads a script one line at a time: its input lines into events, its header lines into the
// header.
class ScriptReader {
 public:
  explicit ScriptReader(Script& script) : script_(script) {}

  // False, with the reason, for a line that is refused.
  bool Line(std::string_view text, int lineNo, std::string& why) {
    const std::vector<std::string_view> whole = Words(text);
    if (!whole.empty() && whole[0] == "#") return Comment(whole, why);
    const std::size_t hash = text.find('#');  // the comment after an input line
    if (hash == std::string_view::npos) return Input(whole, lineNo, why);
    return Input(Words(text.substr(0, hash)), lineNo, why);
  }

 private:
  // "# seed N", "# file NAME ...", "# game MS", "# format N", "# rules N"; any other comment
  // says nothing.
  bool Comment(const std::vector<std::string_view>& w, std::string& why) {
    RecordingHeader& header = script_.header;
    if (w.size() < 3) return true;
    if (w[1] == "seed" && w.size() == 3) {
      std::uint64_t seed = 0;
      if (!ParseDecimal(w[2], UINT64_MAX, seed))
        return Refuse(why, "the seed " + Quoted(w[2]) + " is not a number up to 2^64 - 1");
      if (header.seed) return Refuse(why, "a second seed");
      header.seed = seed;
    } else if (w[1] == "game" && w.size() == 3) {
      std::uint64_t ms = 0;
      if (!ParseDecimal(w[2], static_cast<std::uint64_t>(INT64_MAX), ms))
        return Refuse(why, "the game's start " + Quoted(w[2]) + " is not a time");
      header.gameStartMs = static_cast<std::int64_t>(ms);
    } else if (w[1] == "format" && w.size() == 3) {
      std::uint64_t format = 0;
      if (!ParseDecimal(w[2], 1000000, format) || format > static_cast<std::uint64_t>(kRecordingFormat))
        return Refuse(why, "a recording of format " + Quoted(w[2]) + ", newer than this game reads (" +
                               std::to_string(kRecordingFormat) + ")");
    } else if (w[1] == "rules" && w.size() == 3) {
      std::uint64_t rules = 0;
      if (!ParseDecimal(w[2], 1000000, rules) || rules != static_cast<std::uint64_t>(kRulesVersion))
        return Refuse(why, "recorded under other rules (" + Quoted(w[2]) + "; this game plays rules " +
                               std::to_string(kRulesVersion) + "), so it would play a different game");
    } else if (w[1] == "file" && w.size() >= 4) {
      LoadedFile file;
      if (ParseRecordedFile(w, 3, file)) header.files[std::string(w[2])] = file;
    }
    return true;
  }

  // "<ms> <action> [<key>]", or "<ms> file NAME ..." for a file the recorded game read again.
  bool Input(const std::vector<std::string_view>& w, int lineNo, std::string& why) {
    if (w.empty()) return true;
    ScriptEvent ev;
    ev.line = lineNo;
    if (!ParseNumber(w[0], ev.ms)) return Refuse(why, Quoted(w[0]) + " is not a time in milliseconds");
    if (ev.ms < last_) return Refuse(why, "time " + Quoted(w[0]) + " is earlier than the line before");
    last_ = ev.ms;
    if (w.size() < 2) return Refuse(why, "an action is missing");
    const std::string action = Lower(w[1]);
    if (action == "file") {
      RecordedLoad load;
      load.ms = ev.ms;
      if (w.size() < 4) return Refuse(why, "'file' needs a name and what the file held");
      if (!ParseRecordedFile(w, 3, load.file)) return Refuse(why, "a file line that cannot be read");
      load.name = std::string(w[2]);
      script_.header.loads.push_back(std::move(load));
      return true;
    }
    const NamedAction* named = nullptr;
    for (const NamedAction& a : kActions) {
      if (a.name == action) named = &a;
    }
    if (named == nullptr) return Refuse(why, "unknown action " + Quoted(w[1]) + " (actions: " + kActionNames + ")");
    ev.action = named->kind;
    if (TakesKey(ev.action)) {
      if (w.size() < 3) return Refuse(why, Quoted(w[1]) + " needs a key");
      if (w.size() > 3) return Refuse(why, "unexpected " + Quoted(w[3]));
      ev.vk = KeyNameToVk(w[2]);
      if (ev.vk == 0) return Refuse(why, "unknown key " + Quoted(w[2]) + " (keys: " + kKeyNames + ")");
    } else if (w.size() > 2) {
      return Refuse(why, Quoted(w[1]) + " takes no key");
    }
    if (script_.events.size() == kScriptMaxEvents)
      return Refuse(why, "more than " + std::to_string(kScriptMaxEvents) + " events");
    script_.events.push_back(ev);
    return true;
  }

  Script& script_;
  std::int64_t last_ = 0;  // the time of the input line before
};

}  // namespace

std::string Printable(std::string_view text) {
  static const char* const hex = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\'' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string Quoted(std::string_view text) {
  constexpr std::size_t kShown = 32;
  std::string out = "'" + Printable(text.substr(0, kShown)) + "'";
  if (text.size() > kShown) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

int KeyNameToVk(std::string_view name) {
  const std::string lower = Lower(name);
  for (const NamedKey& key : kNamedKeys) {
    if (Lower(key.name) == lower) return key.vk;
  }
  if (lower.size() == 1) {
    const char c = lower[0];
    if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
    if (c >= '0' && c <= '9') return c;
    return 0;
  }
  if (lower.rfind("vk:", 0) == 0) {
    std::int64_t code = 0;
    if (ParseNumber(std::string_view(lower).substr(3), code) && code >= 1 && code <= 255) {
      return static_cast<int>(code);
    }
  }
  return 0;
}

std::string VkToKeyName(int vk) {
  for (const NamedKey& key : kNamedKeys) {
    if (key.vk == vk) return std::string(key.name);
  }
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, static_cast<char>(vk));
  return "vk:" + std::to_string(vk);
}

std::optional<Script> ParseScript(std::istream& in, const std::string& name, std::string& error) {
  Script script;
  ScriptReader reader(script);
  std::vector<char> buffer(kScriptMaxLine + 1);
  std::int64_t bytes = 0;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    error = Printable(name) + ":" + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  // Line by line, never more than a line's limit at once, so that an endless input without
  // line ends (/dev/zero) is refused at once and one with them after 16 MiB.
  for (;;) {
    in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.bad()) break;
    const std::streamsize got = in.gcount();
    if (got == 0 && in.eof()) break;
    ++lineNo;
    if (in.fail() && !in.eof()) return fail("too long (more than " + std::to_string(kScriptMaxLine) + " bytes)");
    bytes += got;
    if (bytes > kScriptMaxBytes) return fail("the script is longer than 16 MiB");
    std::string_view text(buffer.data(), static_cast<std::size_t>(got) - (in.eof() ? 0 : 1));
    if (lineNo == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
    std::string why;
    if (!reader.Line(text, lineNo, why)) return fail(why);
    if (in.eof()) break;
  }
  if (in.bad()) {
    error = Printable(name) + ": cannot be read";
    return std::nullopt;
  }
  return script;
}

std::optional<Script> ParseScript(std::string_view text, const std::string& name, std::string& error) {
  std::istringstream in{std::string(text)};
  return ParseScript(in, name, error);
}

RecordingWriter::RecordingWriter(std::string_view version, std::string_view started) {
  header_ = "# quillmarsh-rall recording: <game ms> down|up|tap <key>, <game ms> focus-lost|close\n";
  header_ += "# format " + std::to_string(kRecordingFormat) + "\n";
  header_ += "# rules " + std::to_string(kRulesVersion) + "\n";
  header_ += "# version ";
  header_ += version;
  header_ += "\n# started ";
  header_ += started;
  header_ += "\n";
}

void RecordingWriter::Seed(std::uint64_t seed) { header_ += "# seed " + std::to_string(seed) + "\n"; }

void RecordingWriter::FileAtStart(const std::string& name, const LoadedFile& file) {
  header_ += "# file " + name + " " + RecordedFileText(file) + "\n";
}

void RecordingWriter::Event(std::int64_t ms, const InputEvent& event) {
  body_ += std::to_string(ms);
  body_ += ' ';
  for (const NamedAction& a : kActions) {
    if (a.kind == event.kind) body_ += a.name;
  }
  if (TakesKey(event.kind)) {
    body_ += ' ';
    body_ += VkToKeyName(event.vk);
  }
  body_ += '\n';
}

void RecordingWriter::FileAgain(std::int64_t ms, const std::string& name, const LoadedFile& file) {
  body_ += std::to_string(ms) + " file " + name + " " + RecordedFileText(file) + "\n";
}

std::string RecordingWriter::Text(std::int64_t gameStartMs) const {
  if (gameStartMs < 0) return header_ + body_;
  return header_ + "# game " + std::to_string(gameStartMs) + "\n" + body_;
}

}  // namespace qr
