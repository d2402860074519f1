#pragma once
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "machine/Host.hpp"

namespace qr {

// One line of a headless script: "<ms> <action> [<key>]".
struct ScriptEvent {
  using Action = InputEvent::Kind;
  std::int64_t ms = 0;
  Action action = Action::Down;
  int vk = 0;  // Windows virtual-key code; 0 for focus-lost and close
  int line = 0;
};

// The limits of a script: a longer line, a longer script or more events is refused.
constexpr std::size_t kScriptMaxLine = 4096;                // bytes, without the line ending
constexpr std::int64_t kScriptMaxBytes = 16 * 1024 * 1024;  // 16 MiB
constexpr std::size_t kScriptMaxEvents = 1000000;

// Parses a whole script. On error returns nothing and puts a message naming the line in error.
std::optional<std::vector<ScriptEvent>> ParseScript(std::istream& in, const std::string& name, std::string& error);

// "Esc", "escape", "A", "z", "7", "Semicolon", "vk:186", ... to a virtual-key code (the case
// does not matter); 0 when unknown.
int KeyNameToVk(const std::string& name);

// Text from outside, fit for a one-line message: bytes other than printable ASCII written as
// \xHH, the quote and the backslash behind a backslash.
std::string Printable(std::string_view text);
// A word from outside in single quotes, printable, cut after 32 bytes with its length.
std::string Quoted(std::string_view text);

}  // namespace qr
