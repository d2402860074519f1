#pragma once
// Two machines playing one game in lockstep. The game is a pure function of its seed, its tables
// and its input stamped with passes, so two games started alike and handed the same input at the
// same passes stay the same game: each side sends what it observed at the end of pass k, to take
// effect on both at pass k + delay, and a pass ends only once the other side's input for it is in.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/shared/HostWrapper.hpp"

namespace qr {

// One side's connection to the other (the rankings server's relay, or memory in tests): whole
// messages, in order.
class LockstepLink {
 public:
  virtual ~LockstepLink() = default;
  virtual void Send(const std::string& message) = 0;
  // The next message; nothing when none came within timeout, or when the link is gone (closed).
  virtual std::optional<std::string> Receive(std::chrono::milliseconds timeout, bool& closed) = 0;
};

// What both sides agree on before the first pass: the host's seed and high-score table, and the
// input delay in passes.
struct LockstepStart {
  std::uint64_t seed = 0;
  LoadedFile table;
  int delay = 2;
  // The host's: half the round trip, which it waits after sending the start so that both sides
  // begin together (the guest begins as the start arrives).
  std::chrono::milliseconds halfTrip{0};
};

// The limits of a session.
struct LockstepLimits {
  std::chrono::milliseconds stallFrom{10};      // a wait this long for the other side is a stall
  std::chrono::milliseconds waitingAfter{250};  // a stall this long is said to the player
  std::chrono::milliseconds silenceEnds{3000};  // the other side silent this long ends the session
  int hashEvery = 100;                          // passes between two comparisons of the game states,
                                                // and of how far ahead each side's input comes
  int maxDelay = 50;                            // passes
};

// The handshake over a fresh link: the host measures the round trip (a few pings), chooses the
// delay (half a slow round trip in passes of 10 ms, plus one) and sends the start; the guest answers
// the pings and takes the start. Nothing, with the reason, when the other side does not answer
// in time or sends something else.
std::optional<LockstepStart> HostHandshake(LockstepLink& link, std::uint64_t seed, const LoadedFile& table,
                                           const LockstepLimits& limits, std::string& error);
std::optional<LockstepStart> GuestHandshake(LockstepLink& link, const LockstepLimits& limits, std::string& error);

// The wire form of a session, which whoever watches one reads too. A pass's input as sent:
// "d65,u65,t81,f,c" (down, up, tap with the key; focus lost; close), at most 64 events.
std::string EncodeInput(const std::vector<InputEvent>& events);
// Appends what EncodeInput wrote; false (maybe having appended some) for anything else.
bool DecodeInput(std::string_view text, std::vector<InputEvent>& events);
// The host's start message ({"start":{"seed":"…","table":"hex|missing|unreadable","delay":D}});
// false for anything else, or a delay outside 1..maxDelay.
bool ParseStart(const std::string& message, int maxDelay, LockstepStart& start);

// The wrapper of either side, between the game (with its recorder) and the side's own host.
// Player 1's paddle keys are the host's, player 2's the guest's (any paddle key of the guest moves
// player 2); coins, starts, Esc, typed initials, a lost focus and a closed window count from
// either side. The guest plays on the host's table and saves nothing. When the session ends (the
// other side leaves, goes silent or its game differs from this one), the game is handed a closed
// window, so that it ends as it would, and why() says why.
class Lockstep final : public HostWrapper {
 public:
  enum class Side { Host, Guest };
  Lockstep(Host& inner, LockstepLink& link, Side side, LockstepStart start, LockstepLimits limits = {});
  // Shakes hands over the link first: the host with the inner host's seed and table. When that
  // fails the session has ended before its first pass, and why() says why.
  Lockstep(Host& inner, LockstepLink& link, Side side, LockstepLimits limits = {});
  ~Lockstep() override;
  Lockstep(const Lockstep&) = delete;
  Lockstep& operator=(const Lockstep&) = delete;

  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  std::uint64_t RandomSeed() override { return start_.seed; }
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& name) override;
  // The guest holds nothing of its own against other games.
  bool LockFiles(std::string& error) override { return side_ == Side::Guest || HostWrapper::LockFiles(error); }
  void UnlockFiles() override {
    if (side_ == Side::Host) HostWrapper::UnlockFiles();
  }
  void TextEntry(bool on) override {
    textEntry_ = on;
    HostWrapper::TextEntry(on);
  }

  // The game's state at a pass, hashed, for the desync check (set by whoever owns the game).
  void StateHash(std::function<std::string()> hash) { stateHash_ = std::move(hash); }
  // Called with true when a stall has lasted limits.waitingAfter, and with false when it ends.
  void OnWaiting(std::function<void(bool)> waiting) { onWaiting_ = std::move(waiting); }

  // Why the session ended; empty while it goes on.
  const std::string& why() const { return why_; }
  std::int64_t passes() const { return pass_; }
  int delay() const { return start_.delay; }
  int stalls() const { return stalls_; }  // waits of limits.stallFrom or longer, and their time
  std::chrono::milliseconds stalled() const { return stalled_; }

 private:
  void Receive(const std::string& message);
  void End(const std::string& why, bool tellOther);
  void WaitFor(std::int64_t pass);
  // What each side says of itself every limits.hashEvery passes: its game state's hash (empty
  // when nobody hashes it) and by how many passes the other side's input came before it was
  // needed, on average since the last time, in hundredths.
  struct Check {
    std::string hash;
    int ahead = 0;
  };
  void Compare(std::int64_t pass, const Check& check, bool mine);

  LockstepLink& link_;
  Side side_;
  LockstepStart start_;
  LockstepLimits limits_;
  std::function<std::string()> stateHash_;
  std::function<void(bool)> onWaiting_;
  std::int64_t pass_ = 0;                       // the passes begun (Pace calls)
  std::int64_t received_ = 0;                   // the other side's messages, in pass order
  std::map<std::int64_t, std::string> mine_;    // my input, by the pass it takes effect at
  std::map<std::int64_t, std::string> theirs_;  // theirs, likewise
  std::map<std::int64_t, Check> checks_;        // mine, by pass, until theirs come
  std::map<std::int64_t, Check> theirChecks_;   // theirs, until mine come
  std::int64_t aheadSum_ = 0;                   // for my next check: the passes ahead, summed
  std::int64_t aheadCount_ = 0;                 // over so many passes
  bool textEntry_ = false;
  std::optional<std::int64_t> due_;  // the pass whose input TakeInput hands over next
  std::string why_;
  bool closeDelivered_ = false;
  std::string gone_;  // why the other side's input ended (it said goodbye, its link is gone)
  int stalls_ = 0;
  std::chrono::milliseconds stalled_{0};
};

// A game with a friend as a desktop program starts it: the link to the other side, and this side.
struct FriendGame {
  LockstepLink* link = nullptr;
  Lockstep::Side side = Lockstep::Side::Host;
};

// The state hash of a game, for StateHash: a 64-bit FNV-1a of its state as JSON, in hexadecimal.
std::string HashText(const std::string& text);

}  // namespace qr
