#include "platform/headless/Script.hpp"

#include <charconv>
#include <map>
#include <sstream>

namespace qr {

namespace {

bool ParseNumber(const std::string& text, std::int64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0;
}

}  // namespace

int KeyNameToVk(const std::string& name) {
  static const std::map<std::string, int> named = {
      {"Esc", 27}, {"Enter", 13}, {"Backspace", 8}, {"Space", 32},      {"Left", 37},
      {"Up", 38},  {"Right", 39}, {"Down", 40},     {"Semicolon", 186},
  };
  if (auto it = named.find(name); it != named.end()) return it->second;
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= 'A' && c <= 'Z') return c;
    if (c >= '0' && c <= '9') return c;
    return 0;
  }
  if (name.rfind("vk:", 0) == 0) {
    std::int64_t code = 0;
    if (ParseNumber(name.substr(3), code) && code >= 1 && code <= 255) return static_cast<int>(code);
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
  std::string text;
  int lineNo = 0;
  std::int64_t last = 0;
  auto fail = [&](const std::string& why) {
    error = name + ":" + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (std::getline(in, text)) {
    ++lineNo;
    if (auto hash = text.find('#'); hash != std::string::npos) text.erase(hash);
    std::istringstream words(text);
    std::vector<std::string> parts;
    for (std::string w; words >> w;) parts.push_back(w);
    if (parts.empty()) continue;

    ScriptEvent ev;
    ev.line = lineNo;
    if (!ParseNumber(parts[0], ev.ms)) return fail("'" + parts[0] + "' is not a time in milliseconds");
    if (ev.ms < last) return fail("time " + parts[0] + " is earlier than the line before");
    last = ev.ms;
    if (parts.size() < 2) return fail("an action is missing");
    auto action = actions.find(parts[1]);
    if (action == actions.end()) return fail("unknown action '" + parts[1] + "'");
    ev.action = action->second;
    const bool wantsKey = ev.action == ScriptEvent::Action::Down || ev.action == ScriptEvent::Action::Up ||
                          ev.action == ScriptEvent::Action::Tap;
    if (wantsKey) {
      if (parts.size() < 3) return fail("'" + parts[1] + "' needs a key");
      if (parts.size() > 3) return fail("unexpected '" + parts[3] + "'");
      ev.vk = KeyNameToVk(parts[2]);
      if (ev.vk == 0) return fail("unknown key '" + parts[2] + "'");
    } else if (parts.size() > 2) {
      return fail("'" + parts[1] + "' takes no key");
    }
    events.push_back(ev);
  }
  if (in.bad()) {
    error = name + ": cannot be read";
    return std::nullopt;
  }
  return events;
}

}  // namespace qr
