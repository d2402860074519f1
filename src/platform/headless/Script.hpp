#pragma once
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Host.hpp"

namespace qr {

// One line of a headless script: "<ms> <action> [<key>]".
struct ScriptEvent {
  using Action = InputEvent::Kind;
  std::int64_t ms = 0;
  Action action = Action::Down;
  int vk = 0;  // Windows virtual-key code; 0 for focus-lost and close
  int line = 0;
};

// Parses a whole script. On error returns nothing and puts a message naming the line in error.
std::optional<std::vector<ScriptEvent>> ParseScript(std::istream& in, const std::string& name, std::string& error);

// "Esc", "A", "7", "Semicolon", "vk:186", ... to a virtual-key code; 0 when unknown.
int KeyNameToVk(const std::string& name);

}  // namespace qr
