#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace qr {

// The command line of both modes.
struct Options {
  bool help = false;
  bool version = false;
  bool headless = false;
  std::optional<std::uint64_t> seed;
  std::string dataDir;
  bool stats = false;
  std::string record;      // the input of the game, written to this file as it goes
  std::string screenshot;  // the playfield at the end, as a 319 x 239 PNG
  std::string state;       // the game state at the end, as JSON
  std::string online;      // a rankings server: the game is played ranked, on a seed it issues
  std::string submit;      // a kept ranked game to send to the server (with --server)
  std::string server;
  // Play a friend on another machine: open a room on the server at hostGame, or join the room of
  // the code join on --server.
  std::string hostGame;
  std::string join;
  // Watch the game of the room of this code on --server, live.
  std::string spectate;
  // The window.
  int scale = 0;  // 0: the largest that fits the desktop, up to 4
  bool fullscreen = false;
  bool mute = false;
  bool noGamepad = false;
  bool pauseWhenUnfocused = false;  // a lost focus pauses the game instead of ending it
  std::string replay;               // a recording to play back
  // The headless twin.
  std::string script;
  std::int64_t runMs = 600000;
};

// Parses argv; on error returns nothing and says which flag is wrong.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error);

// The usage of both modes, one line per option.
std::string UsageText();

}  // namespace qr
