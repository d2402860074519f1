#pragma once
// Watching a game with a friend as it goes, from its input alone: the relay hands a spectator what
// both players sent (the host's start, then every pass of each), and the game played from the
// host's seed and table with that input at the same passes is the players' game, a few passes
// behind them. A spectator who comes late catches up on what was played first, unseen but for a
// picture now and then, and then follows live.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hosts/shared/Lockstep.hpp"

namespace qr {

struct SpectatorLimits {
  // The players' start: a room waits ten minutes for its guest, then the two shake hands.
  std::chrono::milliseconds startWithin{std::chrono::minutes(11)};
  std::chrono::milliseconds silenceEnds{3000};  // no input this long ends the watching
  // The inner host paces the game on the wall clock (a window, a page): while more than
  // catchUpFrom passes of input are in beyond the current pass, the game runs without its
  // sleeps, showing a picture (and letting a page have its turn) every showEvery. A host that
  // never sleeps (headless) is handed every pass as it is. (A paced host is told the game time
  // less what was caught up, so that its pacing goes on from where the picture is.)
  bool paced = true;
  int catchUpFrom = 10;
  std::chrono::milliseconds showEvery{50};
  int maxDelay = 50;  // passes, as the players allow
  // Input come and not yet played, at most: passes of one player (the relay keeps about half an
  // hour of play), and bytes of both.
  std::size_t maxPending = 400'000;
  std::size_t maxPendingBytes = 32u << 20;
};

// The wrapper of a spectator, between the game (with its recorder) and the spectator's host. The
// game's random seed and high-score table are the host's; what it saves stays in memory. The
// spectator's own keys do nothing, but Esc or a closed window ends the watching; and when the
// players' session ends (a bye, the connection closed, silence) the input that came is played out,
// then the game is handed a closed window, and why() says why.
class Spectator final : public HostWrapper {
 public:
  // Waits for the host's start on the link; when none comes, the watching has ended before its
  // first pass and why() says why.
  Spectator(Host& inner, LockstepLink& link, SpectatorLimits limits = {});
  Spectator(const Spectator&) = delete;
  Spectator& operator=(const Spectator&) = delete;

  void SetCaption(const std::string& caption) override { HostWrapper::SetCaption(caption + " - watching"); }
  void Pace(std::int64_t gameMs) override;
  void TakeInput(std::vector<InputEvent>& events) override;
  std::uint64_t RandomSeed() override { return start_.seed; }
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override;
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override;
  void RemoveFile(const std::string& /*name*/) override {}
  bool LockFiles(std::string& /*error*/) override { return true; }
  void UnlockFiles() override {}
  void TextEntry(bool /*on*/) override {}  // the spectator types nothing

  // The game's state at a pass, hashed as the players hash theirs (see Lockstep::StateHash): where
  // the host's hash of a pass came, this game's must be the same, or the watching ends.
  void StateHash(std::function<std::string()> hash) { stateHash_ = std::move(hash); }

  // Why the watching ended; empty while it goes on.
  const std::string& why() const { return why_; }
  bool started() const { return started_; }
  std::int64_t passes() const { return pass_; }
  int delay() const { return start_.delay; }
  // The passes of input in beyond the current pass.
  std::int64_t behind() const;

 private:
  // The relay's word: an array of the players' messages, or its bye. False when it is not one.
  bool Receive(const std::string& text);
  // One message from the link within timeout; false when none came.
  bool Take(std::chrono::milliseconds timeout);
  void WaitFor(std::int64_t k);
  void PaceInner(std::int64_t gameMs, std::int64_t step);
  void Compare(std::int64_t pass, const std::string& hash, bool mine);
  void End(const std::string& why);

  LockstepLink& link_;
  SpectatorLimits limits_;
  LockstepStart start_;
  bool started_ = false;
  std::int64_t pass_ = 0;
  std::int64_t lastGameMs_ = 0;
  std::int64_t skippedMs_ = 0;  // game time not handed to a paced inner host, caught up
  std::chrono::steady_clock::time_point lastShown_;
  // Each player's input not yet played, from the pass after `taken_` on.
  std::deque<std::string> host_, guest_;
  std::size_t pendingBytes_ = 0;
  std::int64_t taken_ = 0;         // the message number (k) played last
  std::vector<InputEvent> ready_;  // what TakeInput hands over next
  std::string ending_;             // the session ended with this; what came is still played
  bool linkGone_ = false;          // the relay said its last word, or the link closed
  bool hostLeft_ = false;          // a player said goodbye: nothing more comes from it
  bool guestLeft_ = false;
  std::string why_;
  bool closeDelivered_ = false;
  std::vector<InputEvent> local_;
  std::function<std::string()> stateHash_;
  std::map<std::int64_t, std::string> myHashes_, hostHashes_;  // by pass, until the other comes
};

}  // namespace qr
