#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "game/app/frmRallex.hpp"
#include "hosts/desktop/DataDir.hpp"
#include "hosts/desktop/Options.hpp"
#include "hosts/desktop/RankedFile.hpp"
#include "hosts/desktop/RankingClient.hpp"
#include "hosts/desktop/RecordingFile.hpp"
#include "hosts/headless/HeadlessRun.hpp"
#include "hosts/sdl/RankedOffer.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/shared/Lockstep.hpp"
#include "hosts/shared/Recorder.hpp"
#include "hosts/shared/Spectator.hpp"
#include "hosts/shared/StateJson.hpp"
#include "machine/Machine.hpp"
#if defined(QR_WITH_NETPLAY)
#include "hosts/net/NetSession.hpp"
#endif
#if defined(_WIN32)
#include "hosts/desktop/windows/Console.hpp"
#endif

namespace {

// How long a host waits for its friend to join.
constexpr std::chrono::minutes kWaitForFriend{10};

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  qr::AttachParentConsole();
#endif
  std::string error;
  auto options = qr::ParseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "quillmarsh-rall: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(qr::UsageText().c_str(), stdout);
    return 0;
  }
  if (options->version) {
    std::printf("quillmarsh-rall %s\n", QR_VERSION);
    return 0;
  }
  if (!options->submit.empty()) {
    const qr::Submission sent = qr::SubmitRankedFile(options->submit, options->server);
    std::fprintf(sent.code == 0 ? stdout : stderr, sent.code == 0 ? "%s\n" : "quillmarsh-rall: %s\n",
                 sent.message.c_str());
    return sent.code;
  }
  // A ranked game starts only with its seed: without one it would be a game nobody can rank. The
  // files to write are checked first, so that no seed is asked for in vain.
  std::optional<qr::RankedTicket> ticket;
  if (!options->online.empty()) {
    if (!qr::CheckOutputs(*options)) return 2;
    qr::IssuedSeed issued;
    if (qr::RankingClient(options->online).RequestSeed(issued, error) != qr::ClientResult::Ok) {
      std::fprintf(stderr, "quillmarsh-rall: no ranked game: %s\n", error.c_str());
      return 1;
    }
    ticket = qr::RankedTicket{issued.seed, issued.token};
  }
  // A game with a friend: the room and the other player first, then the game in lockstep.
  qr::FriendGame friendGame;
#if defined(QR_WITH_NETPLAY)
  std::optional<qr::NetSession> friendSession;
  if (!options->hostGame.empty() || !options->join.empty()) {
    if (!qr::CheckOutputs(*options)) return 2;
    const bool hosting = options->join.empty();
    friendSession = qr::StartNetSession(
        hosting ? options->hostGame : options->server, options->join, kWaitForFriend,
        [](const std::string& line) { std::fprintf(stderr, "quillmarsh-rall: %s\n", line.c_str()); }, error);
    if (!friendSession) {
      std::fprintf(stderr, "quillmarsh-rall: no game with a friend: %s\n", error.c_str());
      return 1;
    }
    friendGame = qr::FriendGame{friendSession->link.get(), friendSession->side};
  }
  // Watching a friend game: the link to the room; the players' start comes over it.
  std::unique_ptr<qr::WebSocketLink> watched;
  if (!options->spectate.empty()) {
    if (!qr::CheckOutputs(*options)) return 2;
    watched = qr::StartWatching(options->server, options->spectate, error);
    if (!watched) {
      std::fprintf(stderr, "quillmarsh-rall: no game to watch: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "quillmarsh-rall: watching room %s as soon as its players start\n", options->spectate.c_str());
  }
  qr::LockstepLink* watchedLink = watched.get();
#else
  qr::LockstepLink* watchedLink = nullptr;
  if (!options->hostGame.empty() || !options->join.empty() || !options->spectate.empty()) {
    std::fprintf(stderr, "quillmarsh-rall: this build cannot play a friend over the network\n");
    return 2;
  }
#endif
  if (options->headless) {
    return qr::RunHeadless(*options, ticket ? &*ticket : nullptr, friendGame.link != nullptr ? &friendGame : nullptr,
                           watchedLink);
  }

  qr::Script replay;
  if (!options->replay.empty() && !qr::LoadScript(options->replay, "recording", replay)) return 2;
  if (!qr::CheckOutputs(*options)) return 2;
  // Written aside as the game goes; the file itself is replaced only by a whole recording.
  std::optional<qr::RecordingFile> record;
  if (!options->record.empty()) record.emplace(options->record);

  qr::WindowOptions w;
  w.scale = options->scale;
  w.fullscreen = options->fullscreen;
  w.mute = options->mute;
  w.gamepads = !options->noGamepad;
  w.pauseWhenUnfocused = options->pauseWhenUnfocused;
  w.stats = options->stats;
  w.seed = options->seed;
  w.dataDir = options->dataDir;
  int code = 0;
  const int windowCode = qr::RunWindowed(w, [&](qr::Host& host, const qr::ShowNotice& show) {
    std::optional<qr::Replayer> replayer;
    if (!options->replay.empty()) replayer.emplace(host, std::move(replay), options->seed);
    qr::Host& inner = replayer ? static_cast<qr::Host&>(*replayer) : host;
    qr::RecordingSink* sink = record ? &*record : nullptr;
    // Every game is recorded, so that a game that enters a high-score table keeps its recording.
    // A ranked game plays below the recorder, so that the recording says what the server replays.
    std::optional<qr::RankedSession> ranked;
    std::optional<qr::Lockstep> lockstep;
    std::optional<qr::Spectator> spectator;
    std::optional<qr::Recorder> plain;
    std::optional<qr::RankedOffer> offer;
    if (watchedLink != nullptr) {
      spectator.emplace(inner, *watchedLink);
      if (!spectator->started()) {
        std::fprintf(stderr, "quillmarsh-rall: no game to watch: %s\n", spectator->why().c_str());
        code = 1;
        return;
      }
      plain.emplace(*spectator, sink);
    } else if (friendGame.link != nullptr) {
      lockstep.emplace(inner, *friendGame.link, friendGame.side);
      lockstep->OnWaiting([&show](bool on) {
        qr::WindowNotice banner;
        banner.banner = true;
        banner.text = on ? "Waiting for the other player" : "";
        show(banner);
      });
      plain.emplace(*lockstep, sink);
    } else if (ticket) {
      ranked.emplace(inner, *ticket, options->dataDir.empty() ? qr::DefaultDataDirectory() : options->dataDir, sink);
      offer.emplace(options->online);
      ranked->OnKept([&](const std::string& path, const qr::EntryOutcome&) { offer->Make(path, show); });
    } else {
      plain.emplace(inner, sink);
    }
    qr::Recorder& recorder = ranked ? ranked->Outer() : *plain;
    qr::Machine machine(recorder);
    qr::frmRallex game(machine);
    if (ranked) ranked->Follow(game);
    if (lockstep) lockstep->StateHash([&] { return qr::HashText(StateJson(game, machine.NowMs(), false, {})); });
    if (spectator) spectator->StateHash([&] { return qr::HashText(StateJson(game, machine.NowMs(), false, {})); });
    game.Form_Load();
    if (spectator) spectator->StateHash({});
    if (lockstep) {
      lockstep->StateHash({});
      if (!lockstep->why().empty())
        std::fprintf(stderr, "quillmarsh-rall: the game with a friend ended: %s\n", lockstep->why().c_str());
    }
    if (offer) offer->Close();
    if (!recorder.Finish()) code = 1;
    if (qr::WriteEndOfRun(*options, machine, game, true) != 0) code = 1;
  });
  return windowCode != 0 ? windowCode : code;
}
