#include "hosts/shared/Script.hpp"

#include <charconv>
#include <map>

#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

constexpr const char* kKeyNames =
    "Esc (or Escape), Enter, Backspace, Space, Left, Right, Up, Down, Semicolon, A-Z, 0-9, vk:1 to vk:255";
constexpr const char* kActionNames = "down, up, tap, focus-lost, close";

bool ParseNumber(std::string_view text, std::int64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The words of a line, up to a '#'.
std::vector<std::string_view> Words(std::string_view line) {
  if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
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

int KeyNameToVk(const std::string& name) {
  static const std::map<std::string, int> named = {
      {"esc", vk::kEsc},     {"escape", vk::kEsc},          {"enter", vk::kEnter}, {"backspace", vk::kBackspace},
      {"space", vk::kSpace}, {"left", vk::kLeft},           {"up", vk::kUp},       {"right", vk::kRight},
      {"down", vk::kDown},   {"semicolon", vk::kSemicolon},
  };
  const std::string lower = Lower(name);
  if (auto it = named.find(lower); it != named.end()) return it->second;
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

std::optional<std::vector<ScriptEvent>> ParseScript(std::istream& in, const std::string& name, std::string& error) {
  static const std::map<std::string, ScriptEvent::Action> actions = {
      {"down", ScriptEvent::Action::Down},   {"up", ScriptEvent::Action::Up},
      {"tap", ScriptEvent::Action::Tap},     {"focus-lost", ScriptEvent::Action::FocusLost},
      {"close", ScriptEvent::Action::Close},
  };
  std::vector<ScriptEvent> events;
  std::vector<char> buffer(kScriptMaxLine + 1);
  std::int64_t bytes = 0;
  int lineNo = 0;
  std::int64_t last = 0;
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

    const std::vector<std::string_view> parts = Words(text);
    if (!parts.empty()) {
      ScriptEvent ev;
      ev.line = lineNo;
      if (!ParseNumber(parts[0], ev.ms)) return fail(Quoted(parts[0]) + " is not a time in milliseconds");
      if (ev.ms < last) return fail("time " + Quoted(parts[0]) + " is earlier than the line before");
      last = ev.ms;
      if (parts.size() < 2) return fail("an action is missing");
      // A file that a recorded game read again (the recording's header keeps what it held).
      if (Lower(parts[1]) == "file") {
        if (parts.size() < 4) return fail("'file' needs a name and what the file held");
        if (in.eof()) break;
        continue;
      }
      auto action = actions.find(Lower(parts[1]));
      if (action == actions.end()) {
        return fail("unknown action " + Quoted(parts[1]) + " (actions: " + kActionNames + ")");
      }
      ev.action = action->second;
      const bool wantsKey = ev.action == ScriptEvent::Action::Down || ev.action == ScriptEvent::Action::Up ||
                            ev.action == ScriptEvent::Action::Tap;
      if (wantsKey) {
        if (parts.size() < 3) return fail(Quoted(parts[1]) + " needs a key");
        if (parts.size() > 3) return fail("unexpected " + Quoted(parts[3]));
        ev.vk = KeyNameToVk(std::string(parts[2]));
        if (ev.vk == 0) return fail("unknown key " + Quoted(parts[2]) + " (keys: " + kKeyNames + ")");
      } else if (parts.size() > 2) {
        return fail(Quoted(parts[1]) + " takes no key");
      }
      if (events.size() == kScriptMaxEvents) {
        return fail("more than " + std::to_string(kScriptMaxEvents) + " events");
      }
      events.push_back(ev);
    }
    if (in.eof()) break;
  }
  if (in.bad()) {
    error = Printable(name) + ": cannot be read";
    return std::nullopt;
  }
  return events;
}

}  // namespace qr
