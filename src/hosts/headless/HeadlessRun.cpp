#include "hosts/headless/HeadlessRun.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "game/app/frmRallex.hpp"
#include "hosts/desktop/DataDir.hpp"
#include "hosts/desktop/Files.hpp"
#include "hosts/desktop/Png.hpp"
#include "hosts/desktop/RecordingFile.hpp"
#include "hosts/headless/HeadlessHost.hpp"
#include "hosts/shared/Recorder.hpp"
#include "hosts/shared/Spectator.hpp"
#include "hosts/shared/StateJson.hpp"

namespace qr {

namespace {

std::filesystem::path PathOf(const std::string& name) {
  // The name is UTF-8 everywhere (on Windows through the program's code page).
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

bool LoadScript(const std::string& path, const char* what, Script& script) {
  std::error_code ec;
  const bool directory = std::filesystem::is_directory(PathOf(path), ec);
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in || directory) {
    const std::string reason = directory ? "a directory" : errno != 0 ? std::strerror(errno) : "cannot be opened";
    std::fprintf(stderr, "quillmarsh-rall: cannot read the %s %s: %s\n", what, Printable(path).c_str(), reason.c_str());
    return false;
  }
  // Read line by line within the script's limits: a short script takes only what it holds, and
  // an endless one is refused at its limit.
  std::string error;
  auto parsed = ParseScript(in, path, error);
  if (!parsed) {
    std::fprintf(stderr, "quillmarsh-rall: %s\n", error.c_str());
    return false;
  }
  script = std::move(*parsed);
  return true;
}

bool CheckOutputs(const Options& options) {
  const std::pair<const char*, const std::string*> outputs[] = {
      {"--record", &options.record}, {"--screenshot", &options.screenshot}, {"--state", &options.state}};
  for (const auto& [flag, path] : outputs) {
    if (path->empty()) continue;
    std::string error;
    if (!CheckOutputFile(*path, error)) {
      std::fprintf(stderr, "quillmarsh-rall: %s %s cannot be written: %s\n", flag, Printable(*path).c_str(),
                   error.c_str());
      return false;
    }
  }
  // Writing the recording over the one that is played would cut what is being watched.
  const std::string& played = !options.replay.empty() ? options.replay : options.script;
  std::error_code ec;
  if (!options.record.empty() && !played.empty() &&
      std::filesystem::equivalent(PathOf(options.record), PathOf(played), ec)) {
    std::fprintf(stderr, "quillmarsh-rall: --record %s names the file being played; record to another file\n",
                 Printable(options.record).c_str());
    return false;
  }
  return true;
}

int WriteEndOfRun(const Options& options, const Machine& machine, const frmRallex& game, bool exited) {
  int code = 0;
  if (!options.screenshot.empty()) {
    std::string error;
    if (!WritePng(options.screenshot, machine.surface(), 1, error)) {
      std::fprintf(stderr, "quillmarsh-rall: cannot write the screenshot: %s\n", error.c_str());
      code = 1;
    }
  }
  if (!options.state.empty()) {
    std::string error;
    if (!WriteFileAtomically(options.state, StateJson(game, machine.NowMs(), exited, machine.Sounds()), error)) {
      std::fprintf(stderr, "quillmarsh-rall: cannot write the state to %s: %s\n", Printable(options.state).c_str(),
                   error.c_str());
      code = 1;
    }
  }
  return code;
}

int RunHeadless(const Options& options, const RankedTicket* ranked, const FriendGame* friendGame,
                LockstepLink* watched) {
  HeadlessOptions h;
  h.runMs = options.runMs;
  h.dataDir = options.dataDir;
  Script script;
  if (!options.script.empty() && !LoadScript(options.script, "script", script)) return 2;
  if (!CheckOutputs(options)) return 2;
  // A recording brings its seed and the files the game found; --seed still wins.
  h.seed = options.seed.value_or(script.header.seed.value_or(1));
  h.script = std::move(script.events);
  h.files = std::move(script.header.files);
  h.loads = std::move(script.header.loads);

  std::optional<RecordingFile> record;
  if (!options.record.empty()) record.emplace(options.record);
  HeadlessHost host(std::move(h));
  int code = 0;
  {
    std::optional<RankedSession> session;
    std::optional<Lockstep> lockstep;
    std::optional<Spectator> spectator;
    std::optional<Recorder> plain;
    if (ranked != nullptr) {
      session.emplace(host, *ranked, options.dataDir.empty() ? DefaultDataDirectory() : options.dataDir,
                      record ? &*record : nullptr);
    } else if (friendGame != nullptr) {
      lockstep.emplace(host, *friendGame->link, friendGame->side);
      plain.emplace(*lockstep, record ? &*record : nullptr);
    } else if (watched != nullptr) {
      SpectatorLimits limits;
      limits.paced = false;  // nothing here sleeps: every pass is the host's
      spectator.emplace(host, *watched, limits);
      if (!spectator->started()) {
        std::fprintf(stderr, "quillmarsh-rall: no game to watch: %s\n", spectator->why().c_str());
        return 1;
      }
      plain.emplace(*spectator, record ? &*record : nullptr);
    } else {
      plain.emplace(host, record ? &*record : nullptr);
    }
    Recorder& recorder = session ? session->Outer() : *plain;
    Machine machine(recorder);
    frmRallex game(machine);
    if (session) session->Follow(game);
    if (lockstep) lockstep->StateHash([&] { return HashText(StateJson(game, machine.NowMs(), false, {})); });
    if (spectator) spectator->StateHash([&] { return HashText(StateJson(game, machine.NowMs(), false, {})); });
    const bool exited = PlayHeadless(game);
    if (lockstep) {
      lockstep->StateHash({});
      std::fprintf(
          stderr,
          "quillmarsh-rall: the game with a friend: %lld passes, input delay %d, %d stalls, %lld ms stalled%s%s\n",
          static_cast<long long>(lockstep->passes()), lockstep->delay(), lockstep->stalls(),
          static_cast<long long>(lockstep->stalled().count()),
          lockstep->why().empty() ? "" : "; ended: ", lockstep->why().c_str());
    }
    if (spectator) {
      spectator->StateHash({});
      std::fprintf(stderr, "quillmarsh-rall: watched %lld passes, input delay %d%s%s\n",
                   static_cast<long long>(spectator->passes()), spectator->delay(),
                   spectator->why().empty() ? "" : "; ended: ", spectator->why().c_str());
    }
    if (session && !session->KeptPath().empty()) {
      std::printf("%s\n", session->KeptPath().c_str());
    } else if (session) {
      std::fprintf(stderr, "quillmarsh-rall: no initials were entered, so there is no ranked game to send\n");
    }
    if (!recorder.Finish()) code = 1;
    if (WriteEndOfRun(options, machine, game, exited) != 0) code = 1;
    if (options.stats) {
      std::fprintf(stderr, "virtual %lld ms: MainLoop %lld passes, DemoLoop %lld passes, StartPrompt %lld passes\n",
                   static_cast<long long>(machine.NowMs()), static_cast<long long>(machine.Passes(LoopId::MainLoop)),
                   static_cast<long long>(machine.Passes(LoopId::DemoLoop)),
                   static_cast<long long>(machine.Passes(LoopId::StartPrompt)));
    }
  }
  return code;
}

}  // namespace qr
