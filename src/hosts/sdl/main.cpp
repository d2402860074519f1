#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "game/app/frmRallex.hpp"
#include "hosts/desktop/DataDir.hpp"
#include "hosts/desktop/Options.hpp"
#include "hosts/desktop/RankedFile.hpp"
#include "hosts/desktop/RankingClient.hpp"
#include "hosts/desktop/RecordingFile.hpp"
#include "hosts/headless/HeadlessRun.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/shared/Lockstep.hpp"
#include "hosts/shared/Recorder.hpp"
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

// The command line that sends a kept ranked game later.
std::string SubmitCommand(const std::string& path, const std::string& server) {
  auto quoted = [](const std::string& s) {
    return s.find_first_of(" \t'\"$`\\") == std::string::npos ? s : "\"" + s + "\"";
  };
  return "quillmarsh-rall --submit " + quoted(path) + " --server " + quoted(server);
}

// The ranked game's offer to send it, in the window: asked when its entry is confirmed, sent on a
// thread of its own (the window and the game go on), the answer told in a box and on stderr.
// Whatever is not done by the end of the run is said on stderr. The window thread may answer
// after the game has ended: the state it reaches is shared.
class Offer {
 public:
  explicit Offer(std::string server) : state_(std::make_shared<State>()) { state_->server = std::move(server); }
  Offer(const Offer&) = delete;
  Offer& operator=(const Offer&) = delete;
  ~Offer() { Close(); }

  // The game thread: the game is kept as path.
  void Make(const std::string& path, const qr::ShowNotice& show) {
    {
      std::lock_guard lock(state_->mutex);
      state_->path = path;
    }
    qr::WindowNotice notice;
    notice.title = "Quillmarsh Rall: ranked game";
    notice.text =
        "Send this game to the rankings server " + state_->server + "?\n\nIt is kept as " + path + " until it is sent.";
    notice.yes = "Submit";
    notice.no = "Not now";
    notice.answered = [state = state_, show](bool yes) { Answered(state, yes, show); };
    show(std::move(notice));
  }

  // The end of the game: waits for a sending under way; an offer not answered is said on stderr.
  void Close() {
    std::thread sending;
    {
      std::lock_guard lock(state_->mutex);
      state_->closed = true;
      sending.swap(state_->sending);
    }
    if (sending.joinable()) sending.join();
    std::lock_guard lock(state_->mutex);
    if (!state_->path.empty() && !state_->answered) {
      state_->answered = true;
      TellLater(*state_);
    }
  }

 private:
  struct State {
    std::string server;
    std::mutex mutex;
    std::string path;
    bool answered = false;
    bool closed = false;
    std::thread sending;
  };

  static void TellLater(const State& s) {
    std::fprintf(stderr, "quillmarsh-rall: the ranked game is kept as %s; send it with: %s\n", s.path.c_str(),
                 SubmitCommand(s.path, s.server).c_str());
  }

  // The window thread.
  static void Answered(const std::shared_ptr<State>& state, bool yes, const qr::ShowNotice& show) {
    std::lock_guard lock(state->mutex);
    if (state->answered) return;
    state->answered = true;
    if (!yes || state->closed) {
      TellLater(*state);
      return;
    }
    state->sending = std::thread([state, show, path = state->path] {
      const qr::Submission sent = qr::SubmitRankedFile(path, state->server);
      std::fprintf(stderr, "quillmarsh-rall: %s\n", sent.message.c_str());
      qr::WindowNotice notice;
      notice.title = sent.code == 0 ? "Quillmarsh Rall: ranked" : "Quillmarsh Rall: not ranked";
      notice.text = sent.message;
      if (sent.code != 0) {
        TellLater(*state);
        notice.text += "\n\nSend it later with:\n" + SubmitCommand(path, state->server);
      }
      notice.yes = "OK";
      show(std::move(notice));
    });
  }

  std::shared_ptr<State> state_;
};

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
#else
  if (!options->hostGame.empty() || !options->join.empty()) {
    std::fprintf(stderr, "quillmarsh-rall: this build cannot play a friend over the network\n");
    return 2;
  }
#endif
  if (options->headless) {
    return qr::RunHeadless(*options, ticket ? &*ticket : nullptr, friendGame.link != nullptr ? &friendGame : nullptr);
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
    std::optional<qr::Recorder> plain;
    std::optional<Offer> offer;
    if (friendGame.link != nullptr) {
      lockstep.emplace(inner, *friendGame.link, friendGame.side);
      lockstep->OnWaiting([&inner](bool on) {
        inner.SetCaption(on ? "Quillmarsh Rall - waiting for the other player" : "Quillmarsh Rall");
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
    game.Form_Load();
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
