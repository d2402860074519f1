#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "Probe.hpp"
#include "hosts/shared/Lockstep.hpp"
#include "hosts/shared/Recorder.hpp"
#include "hosts/shared/Spectator.hpp"
#include "hosts/shared/StateJson.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// Two ends of a link in memory; an end gone closes the other.
struct Pipe {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> toHost, toGuest;
  bool hostGone = false, guestGone = false;
  // What a relay hands spectators: each player's start, passes and byes, as it sends them.
  std::vector<std::string> watched;
  bool watchEnded = false;
};

// A spectator's link to the pipe: its whole log from the start, then the rest as it comes.
class WatchLink final : public LockstepLink {
 public:
  explicit WatchLink(std::shared_ptr<Pipe> pipe) : pipe_(std::move(pipe)) {}
  void Send(const std::string& /*message*/) override {}
  std::optional<std::string> Receive(std::chrono::milliseconds timeout, bool& closed) override {
    std::unique_lock lock(pipe_->mutex);
    pipe_->changed.wait_for(lock, timeout, [&] { return read_ < pipe_->watched.size() || pipe_->watchEnded; });
    if (read_ == pipe_->watched.size()) {
      closed = pipe_->watchEnded;
      return std::nullopt;
    }
    return pipe_->watched[read_++];
  }

 private:
  std::shared_ptr<Pipe> pipe_;
  std::size_t read_ = 0;
};

class MemoryLink final : public LockstepLink {
 public:
  MemoryLink(std::shared_ptr<Pipe> pipe, bool host) : pipe_(std::move(pipe)), host_(host) {}
  ~MemoryLink() override { Hang(); }
  void Hang() {
    std::lock_guard lock(pipe_->mutex);
    (host_ ? pipe_->hostGone : pipe_->guestGone) = true;
    pipe_->changed.notify_all();
  }
  void Send(const std::string& message) override {
    std::lock_guard lock(pipe_->mutex);
    if (host_ ? pipe_->hostGone : pipe_->guestGone) return;  // a broken end delivers nothing
    (host_ ? pipe_->toGuest : pipe_->toHost).push_back(message);
    if (message.rfind("{\"ping\"", 0) != 0 && message.rfind("{\"pong\"", 0) != 0)
      pipe_->watched.push_back(std::string(host_ ? "[{\"h\":" : "[{\"g\":") + message + "}]");
    pipe_->changed.notify_all();
  }
  std::optional<std::string> Receive(std::chrono::milliseconds timeout, bool& closed) override {
    std::unique_lock lock(pipe_->mutex);
    auto& in = host_ ? pipe_->toHost : pipe_->toGuest;
    const bool& gone = host_ ? pipe_->guestGone : pipe_->hostGone;
    pipe_->changed.wait_for(lock, timeout, [&] { return !in.empty() || gone; });
    if (in.empty()) {
      closed = gone;
      return std::nullopt;
    }
    std::string message = std::move(in.front());
    in.pop_front();
    return message;
  }

 private:
  std::shared_ptr<Pipe> pipe_;
  bool host_;
};

ScriptEvent At(std::int64_t ms, ScriptEvent::Action action, int vk) {
  ScriptEvent e;
  e.ms = ms;
  e.action = action;
  e.vk = vk;
  return e;
}

// One side of a session, headless, with its recorder outside the lockstep as a window has it.
struct Player {
  Player(HeadlessOptions options, LockstepLink& link, Lockstep::Side side, LockstepStart start, LockstepLimits limits)
      : host(std::move(options)), lockstep(host, link, side, std::move(start), limits) {
    lockstep.StateHash([this] { return HashText(StateJson(game, machine.NowMs(), false, {})); });
  }
  void Play() { exited = PlayHeadless(game); }
  std::string State() { return StateJson(game, machine.NowMs(), exited, {}); }
  HeadlessHost host;
  Lockstep lockstep;
  Recorder recorder{lockstep, nullptr};
  Machine machine{recorder};
  frmRallex game{machine};
  bool exited = false;
};

// The recording from its seed on (its first lines say when and with what it was made).
std::string Body(const std::string& recording) { return recording.substr(recording.find("# seed ")); }

struct Session {
  explicit Session(std::vector<ScriptEvent> hostScript, std::vector<ScriptEvent> guestScript, std::int64_t runMs,
                   LockstepLimits limits = {}, std::int64_t guestRunMs = 0) {
    pipe = std::make_shared<Pipe>();
    hostLink = std::make_unique<MemoryLink>(pipe, true);
    guestLink = std::make_unique<MemoryLink>(pipe, false);
    HeadlessOptions h;
    h.seed = 7;
    h.runMs = runMs;
    h.script = std::move(hostScript);
    HeadlessOptions g = h;
    g.seed = 99;  // the guest's own seed counts for nothing
    g.script = std::move(guestScript);
    if (guestRunMs > 0) g.runMs = guestRunMs;
    std::string error;
    std::optional<LockstepStart> guestStart;
    std::thread handshake([&] { guestStart = GuestHandshake(*guestLink, limits, error); });
    const std::optional<LockstepStart> hostStart = HostHandshake(*hostLink, 7, LoadedFile{}, limits, error);
    handshake.join();
    EXPECT_TRUE(hostStart && guestStart) << error;
    if (!hostStart || !guestStart) return;
    EXPECT_EQ(guestStart->delay, hostStart->delay);
    host = std::make_unique<Player>(h, *hostLink, Lockstep::Side::Host, *hostStart, limits);
    guest = std::make_unique<Player>(g, *guestLink, Lockstep::Side::Guest, *guestStart, limits);
  }
  void Play(const std::function<void()>& meanwhile = {}) {
    std::thread other([&] { guest->Play(); });
    if (meanwhile) meanwhile();
    host->Play();
    other.join();
  }
  std::shared_ptr<Pipe> pipe;
  std::unique_ptr<MemoryLink> hostLink, guestLink;
  std::unique_ptr<Player> host, guest;
};

// A spectator of a session, headless, with its recorder outside as a window has it.
struct Watcher {
  Watcher(const std::shared_ptr<Pipe>& pipe, std::int64_t runMs, bool paced) : link(pipe), host(Options(runMs)) {
    SpectatorLimits limits;
    limits.paced = paced;
    spectator.emplace(inner, link, limits);
    recorder.emplace(*spectator, nullptr);
    machine.emplace(*recorder);
    game.emplace(*machine);
    spectator->StateHash([this] { return HashText(StateJson(*game, machine->NowMs(), false, {})); });
  }
  static HeadlessOptions Options(std::int64_t runMs) {
    HeadlessOptions o;
    o.seed = 12345;  // the spectator's own seed counts for nothing
    o.runMs = runMs;
    o.script = {At(1500, ScriptEvent::Action::Tap, vk::kQ), At(4000, ScriptEvent::Action::Down, vk::kZ)};
    return o;
  }
  std::string Watch() {
    const bool exited = PlayHeadless(*game);
    return StateJson(*game, machine->NowMs(), exited, {});
  }
  // Counts what the spectator hands its host.
  struct Counting final : HostWrapper {
    using HostWrapper::HostWrapper;
    void Pace(std::int64_t gameMs) override {
      ++paces;
      HostWrapper::Pace(gameMs);
    }
    int paces = 0;
  };
  WatchLink link;
  HeadlessHost host;
  Counting inner{host};
  std::optional<Spectator> spectator;
  std::optional<Recorder> recorder;
  std::optional<Machine> machine;
  std::optional<frmRallex> game;
};

using A = ScriptEvent::Action;

}  // namespace

// Coins and the start from the host, player 1 from the host's A and player 2 from the guest's A
// (its paddle keys move player 2; the host's arrows move nobody): both play the same game, pass
// for pass, and their recordings are the same and play that game again.
TEST(Lockstep, TwoSidesPlayOneGameAndRecordItAlike) {
  constexpr std::int64_t kRunMs = 40000;
  Session s({At(1000, A::Tap, vk::kQ), At(1300, A::Tap, vk::kQ), At(2000, A::Tap, vk::k2), At(2500, A::Down, vk::kA),
             At(9000, A::Up, vk::kA), At(9100, A::Down, vk::kDown)},
            {At(3000, A::Down, vk::kA), At(6000, A::Up, vk::kA), At(6500, A::Down, vk::kZ)}, kRunMs);
  ASSERT_TRUE(s.host && s.guest);
  s.Play();
  EXPECT_EQ(s.host->lockstep.why(), "");
  EXPECT_EQ(s.guest->lockstep.why(), "");
  const std::string state = s.host->State();
  EXPECT_EQ(state, s.guest->State());
  EXPECT_EQ(s.host->game.numPlayers, 2);
  EXPECT_GT(s.host->game.p1Score + s.host->game.p2Score, 0) << "no point was played";
  const std::string recording = s.host->recorder.Recording();
  EXPECT_EQ(Body(recording), Body(s.guest->recorder.Recording()));
  EXPECT_NE(recording.find("down Up"), std::string::npos) << "the guest's A did not move player 2";

  std::string error;
  std::optional<Script> script = ParseScript(recording, "session", error);
  ASSERT_TRUE(script) << error;
  HeadlessOptions again;
  again.seed = *script->header.seed;
  again.files = script->header.files;
  again.runMs = kRunMs;
  again.script = std::move(script->events);
  StartedGame replay(again);
  EXPECT_EQ(StateJson(replay.game, replay.platform.NowMs(), replay.exited, {}), state);
}

// A spectator plays the players' game from what they sent, whatever its own keys and seed: one
// that watches from the start, and one that comes once the game is over and catches up on it, end
// where the players ended. One whose host paces the game catches up without the host's sleeps,
// handing it a pass now and then, and plays the same game; the end of the input ends it.
TEST(Lockstep, SpectatorsPlayThePlayersGameLiveOrLate) {
  constexpr std::int64_t kRunMs = 30000;
  Session s({At(1000, A::Tap, vk::kQ), At(1300, A::Tap, vk::kQ), At(2000, A::Tap, vk::k2), At(2500, A::Down, vk::kA)},
            {At(3000, A::Down, vk::kA), At(6000, A::Up, vk::kA), At(6500, A::Down, vk::kZ)}, kRunMs);
  ASSERT_TRUE(s.host && s.guest);
  Watcher live(s.pipe, kRunMs, false);
  ASSERT_TRUE(live.spectator->started()) << live.spectator->why();
  std::string watched;
  std::thread watching([&] { watched = live.Watch(); });
  s.Play();
  watching.join();
  const std::string state = s.host->State();
  EXPECT_EQ(watched, state);
  EXPECT_EQ(live.spectator->why(), "") << "the hashes of the games differ";
  EXPECT_EQ(s.host->game.numPlayers, 2);

  Watcher late(s.pipe, kRunMs, false);
  EXPECT_EQ(late.Watch(), state);
  // A game that goes another way is caught by the players' hashes.
  Watcher astray(s.pipe, kRunMs, false);
  astray.spectator->StateHash([&] {
    const std::int64_t now = astray.machine->NowMs();
    return now >= 5000 ? std::string("planted") : HashText(StateJson(*astray.game, now, false, {}));
  });
  astray.Watch();
  EXPECT_NE(astray.spectator->why().find("differs from the players'"), std::string::npos) << astray.spectator->why();
  EXPECT_LE(astray.machine->NowMs(), 5000 + 1000 + 100) << "caught late";

  {
    std::lock_guard lock(s.pipe->mutex);
    s.pipe->watchEnded = true;  // the room closes
  }
  Watcher paced(s.pipe, 10 * kRunMs, true);
  Watcher unpaced(s.pipe, 10 * kRunMs, false);
  const std::string end = paced.Watch();
  EXPECT_EQ(end, unpaced.Watch());
  EXPECT_EQ(paced.spectator->why(), "the connection to the server is lost");
  EXPECT_NE(end.find("\"exited\": true"), std::string::npos) << "the game was not closed";
  EXPECT_GE(paced.spectator->passes(), kRunMs / 10);
  EXPECT_LT(paced.inner.paces, paced.spectator->passes() / 10) << "catching up, the host slept";
  EXPECT_GT(paced.inner.paces, 0) << "catching up, the host was never handed a pass";
}

// A start of another shape (a seed that is a number, a delay that is a string, a table that is not
// hexadecimal) is refused with the reason rather than thrown on.
TEST(Lockstep, AStartOfAnotherShapeIsRefused) {
  LockstepStart start;
  EXPECT_TRUE(ParseStart(R"({"start":{"seed":"7","table":"missing","delay":2}})", 50, start));
  EXPECT_EQ(start.seed, 7u);
  for (const char* bad :
       {R"({"start":{"seed":7,"table":"missing","delay":2}})",
        R"({"start":{"seed":"7","table":"missing","delay":"2"}})", R"({"start":{"seed":"7","table":3,"delay":2}})",
        R"({"start":{"seed":"7","table":"zz","delay":2}})", R"({"start":{"seed":"7","table":"missing","delay":51}})",
        R"({"start":[1]})", "[]"})
    EXPECT_FALSE(ParseStart(bad, 50, start)) << bad;
  auto pipe = std::make_shared<Pipe>();
  MemoryLink host(pipe, true), guest(pipe, false);
  host.Send(R"({"start":{"seed":7,"table":"missing","delay":2}})");
  std::string error;
  EXPECT_FALSE(GuestHandshake(guest, LockstepLimits{}, error));
  EXPECT_EQ(error, "the other side's start is not one of this game");
}

// A side whose game goes another way is caught at the next comparison of the states, within a
// second of play, on both sides; a side that vanishes ends the other's game with the reason.
TEST(Lockstep, ADesyncOrAVanishedSideEndsTheSessionOnBoth) {
  LockstepLimits limits;
  limits.silenceEnds = std::chrono::milliseconds(500);
  {
    Session s({At(1000, A::Tap, vk::kQ)}, {}, 20000, limits);
    ASSERT_TRUE(s.host && s.guest);
    s.guest->lockstep.StateHash([&] { return s.guest->machine.NowMs() >= 5000 ? "planted" : HashText(""); });
    s.host->lockstep.StateHash([&] { return HashText(""); });
    s.Play();
    EXPECT_NE(s.host->lockstep.why().find("desync"), std::string::npos) << s.host->lockstep.why();
    EXPECT_NE(s.guest->lockstep.why().find("desync"), std::string::npos) << s.guest->lockstep.why();
    EXPECT_LE(s.host->machine.NowMs(), 5000 + 1000 + 100) << "caught late";
    EXPECT_TRUE(s.host->exited && s.guest->exited) << "the games went on";
  }
  {
    Session s({}, {}, 60000, limits);
    ASSERT_TRUE(s.host && s.guest);
    s.Play([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      s.guestLink->Hang();  // the guest's connection breaks mid-game
    });
    EXPECT_EQ(s.host->lockstep.why(), "the connection to the other player is lost");
    EXPECT_TRUE(s.host->exited);
    EXPECT_LT(s.host->machine.NowMs(), 60000);
  }
  {
    // A side whose run ends says goodbye, but all it did up to its last pass still plays on the
    // other side, which ends where that input ends: never short of the pass the first ended at.
    Session s({}, {}, 5000, limits, 60000);
    ASSERT_TRUE(s.host && s.guest);
    std::thread guest([&] { s.guest->Play(); });
    s.host->Play();
    s.hostLink->Send(R"({"bye":"the other player left"})");  // as the host's lockstep does as it goes
    guest.join();
    EXPECT_EQ(s.guest->lockstep.why(), "the other player left");
    EXPECT_GE(s.guest->machine.NowMs(), s.host->machine.NowMs());
  }
}

// A side that had to wait for the other's input goes on the later for it, rather than making the
// wait good by shorter sleeps and running ahead again at once; and of two sides, the one with the
// less time to spare for the other's input holds back by half the difference.
TEST(Lockstep, ASideAheadFallsBackAndTheTwoSettleInTheMiddle) {
  struct HeldHost final : HostWrapper {
    using HostWrapper::HostWrapper;
    void Held(std::int64_t us) override { held.push_back(us); }
    std::vector<std::int64_t> held;
  };
  auto pipe = std::make_shared<Pipe>();
  MemoryLink mine(pipe, true), theirs(pipe, false);
  HeadlessHost headless(HeadlessOptions{});
  HeldHost inner(headless);
  LockstepStart start;
  start.delay = 2;
  Lockstep side(inner, mine, Lockstep::Side::Host, start);
  auto pass = [](std::int64_t k, const char* check = "") {
    return "{\"k\":" + std::to_string(k) + ",\"e\":\"\"" + check + "}";
  };
  side.Pace(10);
  side.Pace(20);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    theirs.Send(pass(1));
  });
  side.Pace(30);  // its pass 3 needs the other's pass 1, which comes 30 ms late
  late.join();
  ASSERT_EQ(inner.held.size(), 1u);
  EXPECT_GE(inner.held[0], 25'000);
  EXPECT_EQ(side.stalls(), 1);
  // From here the other side's input comes just in time, while this side's reaches it five
  // passes ahead of need: this side holds back two and a half passes once both have said so.
  for (std::int64_t k = 4; k <= 102; ++k) {
    theirs.Send(pass(k - 2, k - 2 == 100 ? ",\"h\":\"\",\"a\":500" : ""));
    side.Pace(k * 10);
  }
  EXPECT_EQ(side.why(), "");
  ASSERT_EQ(inner.held.size(), 2u);
  EXPECT_EQ(inner.held[1], 25'000);
}

}  // namespace qr
