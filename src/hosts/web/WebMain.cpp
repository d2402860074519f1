// The game as a web page: runs the game on the page's host; when a run ends (Esc in the attract
// mode, or the page losing the focus) the page asks for a key and the game starts again, with
// the tables kept in the browser's storage. A run may also play a kept game again (the page's
// list of kept games, or ?watch=replays/2p-1.txt), or a ranked run that the page fetched from the
// rankings server it came from; a run may be a ranked game, from a seed that server issued, a
// game with a friend, or someone else's game with a friend, watched live (?spectate=CODE).
#include <emscripten.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/app/frmRallex.hpp"
#include "game/scores/HiScoreRecord.hpp"
#include "hosts/shared/Lockstep.hpp"
#include "hosts/shared/RankedGame.hpp"
#include "hosts/shared/Recorder.hpp"
#include "hosts/shared/Spectator.hpp"
#include "hosts/shared/StateJson.hpp"
#include "hosts/web/WebHost.hpp"
#include "machine/Machine.hpp"
#include "machine/sound/GameSounds.hpp"

// clang-format off
EM_JS(int, qr_param_size, (const char* name), { return lengthBytesUTF8(QR.param(UTF8ToString(name))); });
EM_JS(void, qr_param_copy, (const char* name, char* out, int size), { stringToUTF8(QR.param(UTF8ToString(name)), out, size + 1); });
EM_JS(void, qr_fail, (const char* text), { QR.fail(UTF8ToString(text)); });
EM_JS(void, qr_add_sound, (const char* name, const std::uint8_t* wave, int size), { QR.addSound(UTF8ToString(name), HEAPU8.slice(wave, wave + size)); });
EM_JS(void, qr_state, (const char* json), { QR.state = UTF8ToString(json); });
EM_JS(void, qr_ended, (const char* recording, int hadInput), { QR.ended(UTF8ToString(recording), hadInput !== 0); });
EM_JS(void, qr_replaying, (const char* name), { QR.replaying(UTF8ToString(name)); });
EM_JS(void, qr_press_any_key, (), { QR.pressAnyKey(); });
EM_JS(void, qr_take_tables, (const char* text), { QR.tablesText = UTF8ToString(text); });
EM_JS(void, qr_ranked_run, (double seed), { QR.rankedRun(seed < 0 ? null : seed); });
EM_JS(void, qr_net_send, (const char* text), { QR.net.send(UTF8ToString(text)); });
// The next message from the other player: its length in bytes (qr_net_copy takes it), -1 when
// none came in time, -2 when the connection is gone.
EM_ASYNC_JS(int, qr_net_receive, (double timeoutMs), {
  const message = await QR.net.receive(timeoutMs);
  if (typeof message !== 'string') return message;
  QR.net.taken = message;
  return lengthBytesUTF8(message);
});
EM_JS(void, qr_net_copy, (char* out, int size), { stringToUTF8(QR.net.taken, out, size + 1); });
EM_JS(void, qr_net_started, (int delay), { QR.net.started(delay); });
EM_JS(void, qr_net_waiting, (int on), { QR.net.waiting(on !== 0); });
EM_JS(void, qr_net_ended, (const char* why, double passes, int stalls, double stalledMs), {
  QR.net.ended(UTF8ToString(why), { passes: passes, stalls: stalls, stalledMs: stalledMs });
});
EM_JS(void, qr_ranked_entry, (const char* recording, int mode, int p1, int p2, int winner, const char* initials), {
  QR.rankedEntry(UTF8ToString(recording), { mode: mode, p1Score: p1, p2Score: p2, winner: winner, initials: UTF8ToString(initials) });
});
// clang-format on

namespace {

// A parameter of the page's address; empty when absent.
std::string Param(const char* name) {
  const int size = qr_param_size(name);
  std::string value(static_cast<std::size_t>(size), '\0');
  if (size > 0) qr_param_copy(name, value.data(), size);
  return value;
}

bool ParseCount(const std::string& text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

// The test parameters of the address; false, with the message on the page, when one is wrong.
bool ReadOptions(qr::WebOptions& options) {
  std::uint64_t n = 0;
  const std::string seed = Param("seed");
  if (!seed.empty()) {
    if (!ParseCount(seed, n)) {
      qr_fail(("The seed must be a whole number, not " + qr::Quoted(seed) + ".").c_str());
      return false;
    }
    options.seed = n;
  }
  const std::string stop = Param("stop-ms");
  if (!stop.empty()) {
    if (!ParseCount(stop, n) || n > 1'000'000'000'000) {
      qr_fail(("stop-ms must be a number of milliseconds, not " + qr::Quoted(stop) + ".").c_str());
      return false;
    }
    options.stopMs = static_cast<std::int64_t>(n);
  }
  options.fast = Param("fast") == "1";
  options.pads = Param("no-gamepad") != "1";
  const std::string script = Param("script");
  if (!script.empty()) {
    std::string error;
    auto parsed = qr::ParseScript(script, "the script", error);
    if (!parsed) {
      qr_fail(error.c_str());
      return false;
    }
    options.script = qr::ScriptPlayback(std::move(parsed->events));
  }
  return true;
}

// Plays the game on the page's host until it ends: meanwhile the page may ask for its state and
// (when recorder is given) its recording, and a test that stops the run sees the game as it
// stands; its state at the end goes to the page.
void RunOnPage(qr::WebHost& host, qr::Machine& machine, qr::frmRallex& game, qr::Recorder* recorder) {
  if (recorder != nullptr) host.RecordingSource([recorder] { return recorder->Recording(); });
  host.StateSource([&] { return StateJson(game, machine.NowMs(), false, machine.Sounds()); });
  host.OnStop([&] {
    host.ShowFrame(machine.surface());
    qr_state(StateJson(game, machine.NowMs(), false, machine.Sounds()).c_str());
  });
  game.Form_Load();
  host.OnStop({});
  host.StateSource({});
  host.RecordingSource({});
  qr_state(StateJson(game, machine.NowMs(), true, machine.Sounds()).c_str());
}

// A run of the game; every run is recorded: the page's link downloads it, and a game that enters
// a table keeps its recording beside the table. A ranked run plays from the seed the rankings
// server issued and the default tables; its first confirmed initials entry is offered to the
// player for the rankings with the recording up to that moment (the server takes only the first
// such game of a seed).
void Play(qr::WebHost& host, std::optional<std::uint64_t> rankedSeed) {
  std::optional<qr::RankedGame> ranked;
  if (rankedSeed) ranked.emplace(host, *rankedSeed);
  qr::Recorder recorder(ranked ? static_cast<qr::Host&>(*ranked) : host, nullptr);
  qr_ranked_run(rankedSeed ? static_cast<double>(*rankedSeed) : -1);  // seeds have 53 bits
  bool hadInput = false;
  {
    qr::Machine machine(recorder);
    qr::frmRallex game(machine);
    if (ranked) {
      ranked->OnEntryEnded([&, offered = false]() mutable {
        const std::optional<qr::EntryOutcome> entry = qr::ConfirmedEntry(game);
        if (offered || !entry) return;
        offered = true;
        // Marked where the game begins: whoever watches it goes through the attract mode quickly.
        qr_ranked_entry(recorder.Recording(entry->gameStartMs).c_str(), entry->mode, entry->p1Score, entry->p2Score,
                        entry->winner, entry->initials.c_str());
      });
    }
    RunOnPage(host, machine, game, &recorder);
    hadInput = host.TookInput();
  }
  qr_ended(recorder.Recording().c_str(), hadInput ? 1 : 0);
}

// The page's WebSocket to the relay (see QR.net in rall.js); the game waits for a message with the
// page suspended, as it sleeps.
class PageLink final : public qr::LockstepLink {
 public:
  void Send(const std::string& message) override { qr_net_send(message.c_str()); }
  std::optional<std::string> Receive(std::chrono::milliseconds timeout, bool& closed) override {
    const int size = qr_net_receive(static_cast<double>(timeout.count()));
    closed = size == -2;
    if (size < 0) return std::nullopt;
    std::string message(static_cast<std::size_t>(size), '\0');
    qr_net_copy(message.data(), size);
    return message;
  }
};

// A game with a friend on another machine, in lockstep through the relay: the page has its room
// and the other player; the host's seed and table start both games. Only the host's table is
// saved; both pages keep the recording of the whole session.
void PlayFriend(qr::WebHost& host, bool hosting) {
  PageLink link;
  qr::Lockstep lockstep(host, link, hosting ? qr::Lockstep::Side::Host : qr::Lockstep::Side::Guest);
  if (!lockstep.why().empty()) {
    qr_net_ended(lockstep.why().c_str(), 0, 0, 0);
    return;
  }
  qr_net_started(lockstep.delay());
  lockstep.OnWaiting([](bool on) { qr_net_waiting(on ? 1 : 0); });
  qr::Recorder recorder(lockstep, nullptr);
  {
    qr::Machine machine(recorder);
    qr::frmRallex game(machine);
    lockstep.StateHash([&] { return qr::HashText(StateJson(game, machine.NowMs(), false, {})); });
    RunOnPage(host, machine, game, &recorder);
    lockstep.StateHash({});
  }
  qr_ended(recorder.Recording().c_str(), 1);
  qr_net_ended(lockstep.why().empty() ? "the game ended" : lockstep.why().c_str(),
               static_cast<double>(lockstep.passes()), lockstep.stalls(),
               static_cast<double>(lockstep.stalled().count()));
}

// A kept game played again from its recording: its seed, its files as the game found them, its
// input; what comes before the game that earned the entry runs at full speed. The player's
// storage is only read: the replayer keeps the game's saves to itself. The player's keys do
// nothing but Esc, which leaves; the replay ends once its input is spent.
void Watch(qr::WebHost& host, const std::string& name) {
  const qr::LoadedFile file = host.LoadFile(name, static_cast<std::size_t>(qr::kScriptMaxBytes));
  std::string error;
  std::optional<qr::Script> recording;
  if (file.status == qr::LoadedFile::Status::Missing) {
    error = name + " is no longer kept";
  } else if (file.status == qr::LoadedFile::Status::Unreadable) {
    error = name + ": " + file.reason;
  } else {
    recording = qr::ParseScript(file.bytes, name, error);
  }
  if (!recording) {
    host.Tell("cannot play the kept game again: " + error);
    return;
  }
  qr_replaying(name.c_str());
  {
    qr::Replayer replayer(host, std::move(*recording), std::nullopt);
    qr::Machine machine(replayer);
    qr::frmRallex game(machine);
    RunOnPage(host, machine, game, nullptr);
  }
  qr_replaying("");
}

// Someone else's game with a friend, watched live from what its players send (the page has the
// room's link to the relay): from its start, caught up on quickly, then a few passes behind the
// players. The player's keys do nothing but Esc, which leaves; the page's storage is not touched.
void Spectate(qr::WebHost& host) {
  PageLink link;
  qr::Spectator spectator(host, link);
  if (!spectator.started()) {
    qr_net_ended(spectator.why().c_str(), 0, 0, 0);
    return;
  }
  qr_net_started(spectator.delay());
  qr::Recorder recorder(spectator, nullptr);
  {
    qr::Machine machine(recorder);
    qr::frmRallex game(machine);
    spectator.StateHash([&] { return qr::HashText(StateJson(game, machine.NowMs(), false, {})); });
    RunOnPage(host, machine, game, &recorder);
    spectator.StateHash({});
  }
  qr_ended(recorder.Recording().c_str(), 1);
  qr_net_ended(spectator.why().empty() ? "the game ended" : spectator.why().c_str(),
               static_cast<double>(spectator.passes()), 0, 0);
}

constexpr std::string_view kRankedGame = "ranked-game ";

qr::WebHost* pageHost = nullptr;  // for the page's calls below, once the game has started

}  // namespace

// The page's list of kept games asks for both tables as the game reads them from the storage:
// one line an entry, "PLAYERS PLACE SCORE OTHER INITIALS" (the initials are three characters,
// blanks included); nothing when there is no valid table.
extern "C" EMSCRIPTEN_KEEPALIVE void qr_kept_tables() {
  std::string text;
  qr::HiScoreTable one;
  qr::HiScoreTable2P two;
  if (pageHost != nullptr) {
    const qr::LoadedFile file = pageHost->LoadFile(qr::kHiScoreFileName, qr::kHiScoreReadLimit);
    if (file.status == qr::LoadedFile::Status::Ok && qr::ParseHiScoreFile(file.bytes, one, two)) {
      for (int place = 1; place <= 5; ++place) {
        text +=
            "1 " + std::to_string(place) + ' ' + std::to_string(one[place].score) + " 0 " + one[place].initials + '\n';
      }
      for (int place = 1; place <= 5; ++place) {
        text += "2 " + std::to_string(place) + ' ' + std::to_string(two[place].score) + ' ' +
                std::to_string(two[place].otherScore) + ' ' + two[place].initials + '\n';
      }
    }
  }
  qr_take_tables(text.c_str());
}

int main() {
  qr::WebOptions options;
  if (!ReadOptions(options)) return 1;
  for (const qr::GameSound& sound : qr::GameSounds()) {
    qr_add_sound(sound.name.c_str(), sound.wave.data(), static_cast<int>(sound.wave.size()));
  }
  qr::WebHost host(std::move(options));
  pageHost = &host;
  for (;;) {
    host.BeginRun();
    // The page asks for a kept game ("replays/2p-1.txt"), a ranked run it fetched ("ranked/17"),
    // a ranked game ("ranked-game SEED"), a game with a friend ("friend host", "friend guest") or
    // one to watch ("spectate").
    const std::string wanted = host.TakeReplay();
    std::uint64_t seed = 0;
    if (wanted.rfind(kRankedGame, 0) == 0 && ParseCount(wanted.substr(kRankedGame.size()), seed)) {
      Play(host, seed);
    } else if (wanted == "friend host" || wanted == "friend guest") {
      PlayFriend(host, wanted == "friend host");
    } else if (wanted == "spectate") {
      Spectate(host);
    } else if (!wanted.empty()) {
      Watch(host, wanted);
    } else {
      Play(host, std::nullopt);
    }
    if (host.ReplayWanted()) continue;  // the run ended for a kept game: it starts at once
    qr_press_any_key();
    host.WaitForKey();
  }
}
