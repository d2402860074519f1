#include "hosts/desktop/Options.hpp"

#include <charconv>
#include <string_view>

#include "hosts/desktop/RankedFile.hpp"
#include "hosts/shared/Script.hpp"

namespace qr {

namespace {

template <typename T>
bool ParseUnsigned(std::string_view text, T& value) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::string UsageText() {
  return "Usage: quillmarsh-rall [options]                 play in a window\n"
         "       quillmarsh-rall --headless [options]      run without a window, from a script\n"
         "       quillmarsh-rall --submit FILE --server URL\n"
         "                                                 send a kept ranked game to a rankings server\n"
         "\n"
         "Options of both modes:\n"
         "  --seed N            fix the random generator (default: the clock; headless: 1;\n"
         "                      a recording's own seed when it is played)\n"
         "  --data-dir DIR      keep the high-score file in DIR\n"
         "  --record FILE       record every key of the game, to be played again; FILE is\n"
         "                      replaced at the end (FILE.part holds it as the game goes)\n"
         "  --screenshot FILE   write the playfield as a 319 x 239 PNG at the end\n"
         "  --state FILE        write the game state as JSON at the end\n"
         "  --stats             print the passes per second of each loop at the end\n"
         "  --online URL        play ranked on the rankings server at URL (http:// or https://):\n"
         "                      its seed, the default tables; the first game whose initials are\n"
         "                      entered is kept as ranked/SEED.txt in the data directory\n"
         "  --help              print this text\n"
         "  --version           print the version\n"
         "\n"
         "Window options:\n"
         "  --scale N           show each pixel N x N (1-8; default: the largest up to 4 that fits)\n"
         "  --fullscreen        start in fullscreen (F11 or Alt+Enter switches)\n"
         "  --mute              play no sound\n"
         "  --no-gamepad        leave game pads alone (the keyboard still plays)\n"
         "  --pause-when-unfocused\n"
         "                      losing the focus pauses the game instead of ending it;\n"
         "                      a key or a click goes on once the focus is back\n"
         "  --replay FILE       play a recorded game again (Esc leaves)\n"
         "\n"
         "Playing a friend on another machine, through a rankings server:\n"
         "  --host-game URL     open a room on the server at URL (http:// or https://); its code\n"
         "                      is said for the friend\n"
         "  --join CODE         join the room of that code ... (with --server URL)\n"
         "  --spectate CODE     watch the game of the room of that code live, from its start\n"
         "                      (with --server URL; Esc stops watching)\n"
         "\n"
         "Sending a ranked game (asks before it sends in the window, never headless):\n"
         "  --submit FILE       send the kept ranked game FILE (ranked/SEED.txt) ...\n"
         "  --server URL        ... to the rankings server at URL\n"
         "\n"
         "Headless options:\n"
         "  --script FILE       key events, one per line: <ms> down|up|tap <key>, <ms> focus-lost|close\n"
         "                      (a recording is a script: its seed and files are used too)\n"
         "  --run-ms N          end the run when the virtual clock reaches N ms (default 600000)\n"
         "\n"
         "Keys: Q coin, 1 / 2 start, A / Z (or ;) player 1, Up / Down player 2,\n"
         "      Esc abandons a game (anywhere else it quits),\n"
         "      F11 fullscreen, F12 screenshot.\n";
}

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error) {
  Options o;
  bool headlessOnly = false;
  std::string headlessFlag;
  bool windowOnly = false;
  std::string windowFlag;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string_view v;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "--headless") {
      o.headless = true;
    } else if (arg == "--stats") {
      o.stats = true;
    } else if (arg == "--fullscreen" || arg == "--mute" || arg == "--no-gamepad" || arg == "--pause-when-unfocused") {
      (arg == "--fullscreen"   ? o.fullscreen
       : arg == "--mute"       ? o.mute
       : arg == "--no-gamepad" ? o.noGamepad
                               : o.pauseWhenUnfocused) = true;
      windowOnly = true;
      windowFlag = arg;
    } else if (arg == "--seed") {
      std::uint64_t seed = 0;
      if (!value(v)) return std::nullopt;
      if (!ParseUnsigned(v, seed)) {
        error = "--seed wants a whole number, not " + Quoted(v);
        return std::nullopt;
      }
      o.seed = seed;
    } else if (arg == "--data-dir") {
      if (!value(v)) return std::nullopt;
      if (v.empty()) {
        error = "--data-dir wants a directory";
        return std::nullopt;
      }
      o.dataDir = v;
    } else if (arg == "--scale") {
      int scale = 0;
      if (!value(v)) return std::nullopt;
      if (!ParseUnsigned(v, scale) || scale < 1 || scale > 8) {
        error = "--scale wants a whole number from 1 to 8, not " + Quoted(v);
        return std::nullopt;
      }
      o.scale = scale;
      windowOnly = true;
      windowFlag = arg;
    } else if (arg == "--script" || arg == "--screenshot" || arg == "--state" || arg == "--record" ||
               arg == "--replay") {
      if (!value(v)) return std::nullopt;
      if (v.empty()) {
        error = std::string(arg) + " wants a file name";
        return std::nullopt;
      }
      std::string& file = arg == "--script"       ? o.script
                          : arg == "--screenshot" ? o.screenshot
                          : arg == "--state"      ? o.state
                          : arg == "--record"     ? o.record
                                                  : o.replay;
      // A second file would silently replace the first.
      if (!file.empty()) {
        error = std::string(arg) + " is given twice";
        return std::nullopt;
      }
      file = v;
      if (arg == "--script") {
        headlessOnly = true;
        headlessFlag = arg;
      } else if (arg == "--replay") {
        windowOnly = true;
        windowFlag = arg;
      }
    } else if (arg == "--online" || arg == "--server" || arg == "--host-game") {
      if (!value(v)) return std::nullopt;
      std::string& url = arg == "--online" ? o.online : arg == "--server" ? o.server : o.hostGame;
      if (!url.empty()) {
        error = std::string(arg) + " is given twice";
        return std::nullopt;
      }
      url = v;
      if (!IsServerAddress(url)) {
        error = std::string(arg) + " wants a server's address, http://HOST[:PORT] or https://..., not " + Quoted(v);
        return std::nullopt;
      }
    } else if (arg == "--join" || arg == "--spectate") {
      if (!value(v)) return std::nullopt;
      std::string& code = arg == "--join" ? o.join : o.spectate;
      if (v.empty() || !code.empty()) {
        error = std::string(arg) + (v.empty() ? " wants the room's code" : " is given twice");
        return std::nullopt;
      }
      code = v;
    } else if (arg == "--submit") {
      if (!value(v)) return std::nullopt;
      if (v.empty() || !o.submit.empty()) {
        error = v.empty() ? "--submit wants a file name" : "--submit is given twice";
        return std::nullopt;
      }
      o.submit = v;
    } else if (arg == "--run-ms") {
      std::int64_t ms = 0;
      if (!value(v)) return std::nullopt;
      if (!ParseUnsigned(v, ms) || ms < 0) {
        error = "--run-ms wants a whole number of milliseconds, not " + Quoted(v);
        return std::nullopt;
      }
      o.runMs = ms;
      headlessOnly = true;
      headlessFlag = arg;
    } else {
      error = "unknown option " + Quoted(arg) + " (see --help)";
      return std::nullopt;
    }
  }
  if (o.help || o.version) return o;
  if (!o.spectate.empty()) {
    if (!o.join.empty() || !o.hostGame.empty() || !o.online.empty() || !o.submit.empty() || !o.replay.empty() ||
        o.seed) {
      error = !o.join.empty() || !o.hostGame.empty() ? "--spectate watches a game; it cannot play one too"
              : !o.online.empty()                    ? "--spectate watches a game; it cannot go with --online"
              : !o.submit.empty()                    ? "--submit plays no game: it cannot go with --spectate"
              : !o.replay.empty()                    ? "--replay cannot go with --spectate"
                                  : "--seed cannot go with --spectate: the host's seed starts the game";
      return std::nullopt;
    }
    if (o.server.empty()) {
      error = "--spectate needs --server URL, the server of the room";
      return std::nullopt;
    }
  } else if (!o.join.empty() || !o.hostGame.empty()) {
    if (!o.join.empty() && !o.hostGame.empty()) {
      error = "--host-game and --join go on two machines, not one";
      return std::nullopt;
    }
    if (!o.join.empty() && o.server.empty()) {
      error = "--join needs --server URL, the server of the room";
      return std::nullopt;
    }
    if (!o.hostGame.empty() && !o.server.empty()) {
      error = "--host-game names its server itself; --server goes with --join or --submit";
      return std::nullopt;
    }
    if (!o.online.empty() || !o.submit.empty() || !o.replay.empty() || (!o.join.empty() && o.seed)) {
      error = !o.online.empty()   ? "a game with a friend is not ranked: --online cannot go with it"
              : !o.submit.empty() ? "--submit plays no game: it cannot go with a game with a friend"
              : !o.replay.empty() ? "--replay cannot go with a game with a friend"
                                  : "--seed cannot go with --join: the host's seed starts both games";
      return std::nullopt;
    }
  } else if (!o.submit.empty() || !o.server.empty()) {
    if (o.submit.empty() || o.server.empty()) {
      error = o.submit.empty() ? "--server goes with --submit FILE" : "--submit needs --server URL";
      return std::nullopt;
    }
    if (argc != 5) {
      error = "--submit plays no game: give it --server URL and nothing else";
      return std::nullopt;
    }
    return o;
  }
  if (!o.online.empty() && (o.seed || !o.replay.empty())) {
    error = std::string(o.seed ? "--seed" : "--replay") + " cannot go with --online, whose server gives the seed";
    return std::nullopt;
  }
  if (headlessOnly && !o.headless) {
    error = headlessFlag + " works only with --headless";
    return std::nullopt;
  }
  if (windowOnly && o.headless) {
    error = windowFlag + " works only in the window, not with --headless";
    return std::nullopt;
  }
  return o;
}

}  // namespace qr
