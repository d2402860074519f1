#pragma once
// The script and recording format (docs/recording-format.md): a script is input at game times,
// one event a line; a recording is a script whose header says what else the game depended on
// (its seed, the files it read, the rules it was played under). Read and written here only.
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "machine/Host.hpp"

namespace qr {

// The version of the recording format this game writes: 1 had only the seed and the files as
// found at the start (a recording without a "# format" line is of format 1); 2 adds "# game",
// "# rules" and the files read again during the game.
constexpr int kRecordingFormat = 2;
// The version of the game's rules. Raised by any change that makes the same input play another
// game; a recording of other rules is refused, since it would play a different game. A
// recording without a "# rules" line was made under the rules of version 1.
constexpr int kRulesVersion = 1;

// The limits of a script: a longer line, a longer script or more events is refused.
constexpr std::size_t kScriptMaxLine = 4096;                // bytes, without the line ending
constexpr std::int64_t kScriptMaxBytes = 16 * 1024 * 1024;  // 16 MiB
constexpr std::size_t kScriptMaxEvents = 1000000;

// One input line of a script: "<ms> <action> [<key>]".
struct ScriptEvent {
  using Action = InputEvent::Kind;
  std::int64_t ms = 0;
  Action action = Action::Down;
  int vk = 0;  // Windows virtual-key code; 0 for focus-lost and close
  int line = 0;
};

// A file the game read again during the game and found other than it last knew it (another
// game had saved it meanwhile): the body line "<ms> file NAME hex ...|missing|unreadable".
struct RecordedLoad {
  std::int64_t ms = 0;
  std::string name;
  LoadedFile file;
};

// What a recording keeps besides the input: the seed, the files the game read as it found them
// (the high-score tables shape the game) and as it found them again, so that a replay needs
// nothing of this machine; and where the game of interest begins.
struct RecordingHeader {
  std::optional<std::uint64_t> seed;
  std::map<std::string, LoadedFile> files;
  std::vector<RecordedLoad> loads;
  std::optional<std::int64_t> gameStartMs;  // "# game MS": a kept recording's game begins here
};

// A script as read: its input and, when it is a recording, its header (empty for a plain
// script, whose comments say nothing to the game).
struct Script {
  std::vector<ScriptEvent> events;
  RecordingHeader header;
};

// Reads a whole script or recording, line by line within the limits above. Refused, with a
// message naming the line in error: a malformed line, and a header that cannot be trusted (a
// second seed, a seed out of range, other rules, a newer format).
std::optional<Script> ParseScript(std::istream& in, const std::string& name, std::string& error);
std::optional<Script> ParseScript(std::string_view text, const std::string& name, std::string& error);

// "Esc", "escape", "A", "z", "7", "Semicolon", "vk:186", ... to a virtual-key code (the case
// does not matter); 0 when unknown.
int KeyNameToVk(std::string_view name);
// The name a script gives the key: "Esc", "A", "7", "Semicolon", ... or "vk:N".
std::string VkToKeyName(int vk);

// A recording as it is written: its header, then the body of input and of files read again.
// Every call adds one line.
class RecordingWriter {
 public:
  // The first lines: what the file is, its format and rules, the program and when it began.
  RecordingWriter(std::string_view version, std::string_view started);

  void Seed(std::uint64_t seed);                                                     // "# seed N"
  void FileAtStart(const std::string& name, const LoadedFile& file);                 // "# file NAME ..."
  void Event(std::int64_t ms, const InputEvent& event);                              // "MS down KEY", "MS close", ...
  void FileAgain(std::int64_t ms, const std::string& name, const LoadedFile& file);  // "MS file NAME ..."

  // The whole recording; when gameStartMs is not negative, with its "# game" mark after the header.
  std::string Text(std::int64_t gameStartMs = -1) const;

 private:
  std::string header_;
  std::string body_;
};

// Bytes as lower-case hexadecimal, and back (false for an odd length or a character that is not
// a hexadecimal digit).
std::string Hex(std::string_view bytes);
bool FromHex(std::string_view hex, std::string& out);

// Text from outside, fit for a one-line message: bytes other than printable ASCII written as
// \xHH, the quote and the backslash behind a backslash.
std::string Printable(std::string_view text);
// A word from outside in single quotes, printable, cut after 32 bytes with its length.
std::string Quoted(std::string_view text);

}  // namespace qr
